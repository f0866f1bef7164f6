#include "CRecordReader.h"

#include "VantryProtocol.h"

#include <cerrno>

int CRecordReader::Next(const CStopEvent& stop, CCaptureRecord& record) {
    if (m_nOffset == m_nBatchSize) {
        if (m_bOneByOne)
            return m_device.ReadRecord(m_hAttach, stop, record);
        m_batch.resize(Vantry::MAX_BATCH_SIZE);
        m_nOffset = 0;
        const int nError = m_device.ReadBatch(m_hAttach, stop, m_connection, m_batch, m_nBatchSize);
        if (nError == ENOTTY) {
            m_bOneByOne = true;
            m_nBatchSize = 0;
            return m_device.ReadRecord(m_hAttach, stop, record);
        }
        if (nError != 0)
            return nError;
        const std::span<const std::uint8_t> batch(m_batch.data(), m_nBatchSize);
        if (m_nBatchSize == 0 || Vantry::ForEachFileRecord(batch, [](auto) {}) != m_nBatchSize) {
            m_nBatchSize = 0;
            return EPROTO;
        }
    }
    const std::uint32_t dwSize = Vantry::GetU32(m_batch.data() + m_nOffset);
    record = CCaptureRecord::CopyOf({m_batch.data() + m_nOffset + 4, dwSize});
    m_nOffset += 4 + dwSize;
    return 0;
}
