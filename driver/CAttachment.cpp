#include "CAttachment.h"

#include "IEventSource.h"
#include "VantryProtocol.h"

#include <cstring>

using namespace Vantry;

void CAttachment::Offer(std::int8_t nType, std::uint32_t dwProcessId, std::uint64_t qwTimeNs,
                        std::span<const std::uint8_t> payload) {
    if (m_dwDropped != 0)
        TryQueueDropNotice(qwTimeNs);
    if (m_dwDropped != 0 || !Push(nType, dwProcessId, qwTimeNs, payload)) {
        ++m_dwSequence;
        if (m_dwDropped != UINT32_MAX)
            ++m_dwDropped;
    }
}

std::vector<std::uint8_t> CAttachment::PopFront() {
    std::vector<std::uint8_t> record = std::move(m_records.front());
    m_records.pop_front();
    m_nQueuedBytes -= record.size();
    if (m_dwDropped != 0)
        TryQueueDropNotice(RealtimeNs());
    return record;
}

bool CAttachment::Push(std::int8_t nType, std::uint32_t dwProcessId, std::uint64_t qwTimeNs,
                       std::span<const std::uint8_t> payload) {
    const std::size_t nSize = RECORD_DATA_OFFSET + payload.size();
    if (nSize > m_nQueueLimit - m_nQueuedBytes)
        return false;
    std::vector<std::uint8_t> record(nSize);
    PutU64(record.data() + RECORD_TIME_OFFSET, qwTimeNs);
    PutU32(record.data() + RECORD_SEQUENCE_OFFSET, ++m_dwSequence);
    PutU32(record.data() + RECORD_PID_OFFSET, dwProcessId);
    PutU32(record.data() + RECORD_DATA_LENGTH_OFFSET, std::uint32_t(payload.size()));
    record[RECORD_EVENT_TYPE_OFFSET] = std::uint8_t(nType);
    if (!payload.empty())
        std::memcpy(record.data() + RECORD_DATA_OFFSET, payload.data(), payload.size());
    m_nQueuedBytes += nSize;
    m_records.push_back(std::move(record));
    return true;
}

void CAttachment::TryQueueDropNotice(std::uint64_t qwTimeNs) {
    std::uint8_t payload[NOTICE_PAYLOAD_SIZE];
    PutU32(payload, NOTICE_RECORDS_DROPPED);
    PutU32(payload + 4, m_dwDropped);
    if (Push(CAPTURE_DRIVER_NOTICE, 0, qwTimeNs, payload))
        m_dwDropped = 0;
}
