#include "CRecordQueue.h"

bool CRecordQueue::Push(CCaptureRecord record, bool& bWake) {
    const std::size_t nCost = Cost(record);
    std::unique_lock lock(m_mutex);
    m_roomFreed.wait(
        lock, [&] { return m_bStopped || m_records.empty() || m_nBytes + nCost <= m_nMaxBytes; });
    if (m_bStopped)
        return false;
    m_records.push_back(std::move(record));
    m_nBytes += nCost;
    bWake = !m_bWakePending;
    m_bWakePending = true;
    return true;
}

bool CRecordQueue::Pop(CCaptureRecord& record) {
    bool bRoom = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_records.empty()) {
            m_bWakePending = false;
            return false;
        }
        record = std::move(m_records.front());
        m_records.pop_front();
        m_nBytes -= Cost(record);
        // A reader held back by a full queue wakes once half of it is free,
        // not for every record: in a flood that would be a wake-up each.
        bRoom = m_nBytes <= m_nMaxBytes / 2;
    }
    if (bRoom)
        m_roomFreed.notify_one();
    return true;
}

void CRecordQueue::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_bStopped = true;
    }
    m_roomFreed.notify_all();
}

void CRecordQueue::Clear() {
    std::deque<CCaptureRecord> gone;
    {
        std::lock_guard lock(m_mutex);
        gone.swap(m_records);
        m_nBytes = 0;
        m_bWakePending = false;
    }
    m_roomFreed.notify_all();
}

std::size_t CRecordQueue::QueuedBytes() const {
    std::lock_guard lock(m_mutex);
    return m_nBytes;
}
