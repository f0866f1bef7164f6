#include "CAttachment.h"

#include "ProcessRecord.h"
#include "VantryProtocol.h"

#include <algorithm>
#include <cstring>
#include <utility>

using namespace Vantry;

namespace {

// Bounds what the processes of other users can make an attachment remember.
constexpr std::size_t MAX_HIDDEN = 4096;
// Bounds the processes an attachment remembers having named: past it they
// are named afresh.
constexpr std::size_t MAX_NAMED = 4096;
constexpr std::size_t NOTICE_SIZE = RECORD_DATA_OFFSET + NOTICE_PAYLOAD_SIZE;

} // namespace

CAttachment::~CAttachment() {
    m_budget.Give(m_nQueuedBytes + m_records.size() * RECORD_UPKEEP);
}

CSharedRecord CAttachment::MakeRecord(std::int8_t nType, std::uint32_t dwProcessId,
                                      std::uint64_t qwTimeNs,
                                      std::span<const std::uint8_t> payload) {
    const std::size_t nSize = RECORD_DATA_OFFSET + payload.size();
    auto pRecord = std::make_shared_for_overwrite<std::uint8_t[]>(nSize);
    std::uint8_t* p = pRecord.get();
    std::memset(p, 0, RECORD_DATA_OFFSET);
    PutU64(p + RECORD_TIME_OFFSET, qwTimeNs);
    PutU32(p + RECORD_PID_OFFSET, dwProcessId);
    PutU32(p + RECORD_DATA_LENGTH_OFFSET, std::uint32_t(payload.size()));
    p[RECORD_EVENT_TYPE_OFFSET] = std::uint8_t(nType);
    if (!payload.empty())
        std::memcpy(p + RECORD_DATA_OFFSET, payload.data(), payload.size());
    return pRecord;
}

std::size_t CAttachment::SizeOf(const CSharedRecord& pRecord) {
    return RECORD_DATA_OFFSET + GetU32(pRecord.get() + RECORD_DATA_LENGTH_OFFSET);
}

bool CAttachment::Fits(std::size_t nBytes, std::size_t nRecords) const {
    return nBytes <= m_nQueueLimit - m_nQueuedBytes &&
           nBytes + nRecords * RECORD_UPKEEP <= m_budget.Room();
}

std::size_t CAttachment::Room() const {
    const std::size_t nBudget = m_budget.Room();
    const std::size_t nUpkeep = (nBudget / MAX_RECORD_SIZE + 1) * RECORD_UPKEEP;
    return std::min(m_nQueueLimit - m_nQueuedBytes, nBudget - std::min(nBudget, nUpkeep));
}

void CAttachment::Offer(const CSharedRecord& pRecord) {
    // The gap ends with the first record that fits after its notice.
    const bool bNotice = m_dwDropped != 0;
    if (!Fits(SizeOf(pRecord) + (bNotice ? NOTICE_SIZE : 0), bNotice ? 2 : 1)) {
        Drop();
        // Too large even for an empty queue: no fetch will make room.
        if (m_records.empty())
            QueueNotice(NOTICE_RECORDS_DROPPED, 0, std::exchange(m_dwDropped, 0),
                        GetU64(pRecord.get() + RECORD_TIME_OFFSET));
        return;
    }
    if (bNotice)
        QueueNotice(NOTICE_RECORDS_DROPPED, 0, std::exchange(m_dwDropped, 0),
                    GetU64(pRecord.get() + RECORD_TIME_OFFSET));
    Push(pRecord);
}

bool CAttachment::MaySee(const CPortEvent& event) {
    if (m_uid == 0 || event.uidProcess == EVERY_VIEWER || event.uidProcess == m_uid)
        return true;
    if (m_hidden.size() < MAX_HIDDEN && m_hidden.insert(event.dwProcessId).second)
        QueueNotice(NOTICE_PROCESS_OF_OTHER_USER, event.dwProcessId, event.dwProcessId,
                    event.qwTimeNs);
    return false;
}

bool CAttachment::NeedsNaming(const CPortEvent& event) const {
    return ProcessRecord::IsNameable(event) && !m_named.contains(event.dwProcessId) &&
           (m_uid == 0 || event.uidProcess == m_uid);
}

void CAttachment::OfferNamed(const CPortEvent& event, const std::vector<CSharedRecord>& records,
                             const CSharedRecord& pName) {
    if (pName && NeedsNaming(event)) {
        if (m_named.size() >= MAX_NAMED)
            m_named.clear();
        m_named.insert(event.dwProcessId);
        Offer(pName);
    }
    for (const CSharedRecord& pRecord : records)
        Offer(pRecord);
    // Its pid may come back as another process's.
    if (event.nType == CAPTURE_PORT_CLOSED)
        m_named.erase(event.dwProcessId);
}

std::vector<std::uint8_t> CAttachment::PopFront() {
    std::vector<std::uint8_t> record(FrontSize());
    TakeFront(record.data());
    return record;
}

void CAttachment::PopBatch(std::size_t nCapacity, std::vector<std::uint8_t>& out) {
    // One allocation: what is queued, and a notice the emptied queue may add.
    out.reserve(out.size() +
                std::min(nCapacity, m_nQueuedBytes + 4 * m_records.size() + 4 + NOTICE_SIZE));
    std::size_t nUsed = 0;
    while (!m_records.empty() && 4 + FrontSize() <= nCapacity - nUsed) {
        const std::size_t nSize = FrontSize(), nAt = out.size();
        out.resize(nAt + 4 + nSize);
        PutU32(out.data() + nAt, std::uint32_t(nSize));
        TakeFront(out.data() + nAt + 4);
        nUsed += 4 + nSize;
    }
}

void CAttachment::TakeFront(std::uint8_t* pOut) {
    const CQueued queued = std::move(m_records.front());
    m_records.pop_front();
    const std::size_t nSize = SizeOf(queued.pRecord);
    std::memcpy(pOut, queued.pRecord.get(), nSize);
    PutU32(pOut + RECORD_SEQUENCE_OFFSET, queued.dwSequence);
    m_nQueuedBytes -= nSize;
    m_budget.Give(nSize + RECORD_UPKEEP);
    // A client that drained the queue hears of the gap now, not with the
    // next record, which may be long in coming.
    if (m_dwDropped != 0 && m_records.empty())
        QueueNotice(NOTICE_RECORDS_DROPPED, 0, std::exchange(m_dwDropped, 0), RealtimeNs());
}

void CAttachment::Push(const CSharedRecord& pRecord) {
    const std::size_t nSize = SizeOf(pRecord);
    m_records.push_back({pRecord, ++m_dwSequence});
    m_nQueuedBytes += nSize;
    m_budget.Take(nSize + RECORD_UPKEEP);
}

void CAttachment::Drop() {
    ++m_dwSequence;
    if (m_dwDropped != UINT32_MAX)
        ++m_dwDropped;
}

void CAttachment::QueueNotice(std::uint32_t dwCode, std::uint32_t dwProcessId,
                              std::uint32_t dwValue, std::uint64_t qwTimeNs) {
    if (!Fits(NOTICE_SIZE, 1)) {
        // A lost count of drops stays with the gap, which this notice joins.
        if (dwCode == NOTICE_RECORDS_DROPPED)
            m_dwDropped = dwValue;
        Drop();
        return;
    }
    std::uint8_t payload[NOTICE_PAYLOAD_SIZE];
    PutU32(payload, dwCode);
    PutU32(payload + 4, dwValue);
    Push(MakeRecord(CAPTURE_DRIVER_NOTICE, dwProcessId, qwTimeNs, payload));
}
