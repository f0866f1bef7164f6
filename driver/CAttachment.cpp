#include "CAttachment.h"

#include "VantryProtocol.h"

#include <cstring>
#include <utility>

using namespace Vantry;

namespace {

// Bounds what the processes of other users can make an attachment remember.
constexpr std::size_t MAX_HIDDEN = 4096;

} // namespace

void CAttachment::Offer(std::int8_t nType, std::uint32_t dwProcessId, std::uint64_t qwTimeNs,
                        std::span<const std::uint8_t> payload) {
    const std::size_t nSize = RECORD_DATA_OFFSET + payload.size();
    // The gap ends with the first record that fits after its notice.
    const std::size_t nNotice = m_dwDropped != 0 ? RECORD_DATA_OFFSET + NOTICE_PAYLOAD_SIZE : 0;
    if (nSize + nNotice > Room()) {
        ++m_dwSequence;
        if (m_dwDropped != UINT32_MAX)
            ++m_dwDropped;
        // Too large even for an empty queue: no fetch will make room.
        if (m_records.empty())
            QueueNotice(NOTICE_RECORDS_DROPPED, 0, std::exchange(m_dwDropped, 0), qwTimeNs);
        return;
    }
    if (m_dwDropped != 0)
        QueueNotice(NOTICE_RECORDS_DROPPED, 0, std::exchange(m_dwDropped, 0), qwTimeNs);
    Push(nType, dwProcessId, qwTimeNs, payload);
}

bool CAttachment::MaySee(const CPortEvent& event) {
    if (m_uid == 0 || event.uidProcess == EVERY_VIEWER || event.uidProcess == m_uid)
        return true;
    if (m_hidden.size() < MAX_HIDDEN && m_hidden.insert(event.dwProcessId).second)
        QueueNotice(NOTICE_PROCESS_OF_OTHER_USER, event.dwProcessId, event.dwProcessId,
                    event.qwTimeNs);
    return false;
}

std::vector<std::uint8_t> CAttachment::PopFront() {
    std::vector<std::uint8_t> record = std::move(m_records.front());
    m_records.pop_front();
    m_nQueuedBytes -= record.size();
    // A client that drained the queue hears of the gap now, not with the
    // next record, which may be long in coming.
    if (m_dwDropped != 0 && m_records.empty())
        QueueNotice(NOTICE_RECORDS_DROPPED, 0, std::exchange(m_dwDropped, 0), RealtimeNs());
    return record;
}

bool CAttachment::Push(std::int8_t nType, std::uint32_t dwProcessId, std::uint64_t qwTimeNs,
                       std::span<const std::uint8_t> payload) {
    const std::size_t nSize = RECORD_DATA_OFFSET + payload.size();
    if (nSize > Room())
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

void CAttachment::QueueNotice(std::uint32_t dwCode, std::uint32_t dwProcessId,
                              std::uint32_t dwValue, std::uint64_t qwTimeNs) {
    std::uint8_t payload[NOTICE_PAYLOAD_SIZE];
    PutU32(payload, dwCode);
    PutU32(payload + 4, dwValue);
    if (!Push(CAPTURE_DRIVER_NOTICE, dwProcessId, qwTimeNs, payload)) {
        ++m_dwSequence;
        if (m_dwDropped != UINT32_MAX)
            ++m_dwDropped;
    }
}
