#include "CRecordView.h"

using namespace Vantry;

std::optional<std::int8_t> CRecordView::EventType() const {
    if (m_bytes.size() <= RECORD_EVENT_TYPE_OFFSET)
        return std::nullopt;
    return static_cast<std::int8_t>(m_bytes[RECORD_EVENT_TYPE_OFFSET]);
}

bool CRecordView::IsComplete() const {
    const auto nType = EventType();
    if (!nType || m_bytes.size() < MinimumRecordSize(*nType))
        return false;
    if (*nType == CAPTURE_DATA_READ || *nType == CAPTURE_DATA_WRITTEN)
        return DataLength() <= m_bytes.size() - RECORD_DATA_OFFSET;
    return true;
}

std::uint32_t CRecordView::DataLength() const {
    return GetU32(m_bytes.data() + RECORD_DATA_LENGTH_OFFSET);
}

std::span<const std::uint8_t> CRecordView::Payload() const {
    return m_bytes.subspan(RECORD_DATA_OFFSET, DataLength());
}

std::int32_t CRecordView::BaudRate() const {
    return static_cast<std::int32_t>(GetU32(m_bytes.data() + RECORD_DATA_OFFSET));
}

std::optional<CRecordView::Stamp> CRecordView::GetStamp() const {
    if (m_bytes.size() < RECORD_DATA_LENGTH_OFFSET)
        return std::nullopt;
    return Stamp{GetU64(m_bytes.data() + RECORD_TIME_OFFSET),
                 GetU32(m_bytes.data() + RECORD_SEQUENCE_OFFSET),
                 GetU32(m_bytes.data() + RECORD_PID_OFFSET)};
}
