#include "CQueueSink.h"

#include "VantryProtocol.h"

CQueueSink::CQueueSink(std::function<void(const CQueuedRecord&)> onRecord)
    : m_onRecord(std::move(onRecord)) {
    m_client = std::thread([this] {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            CQueuedRecord record = std::move(m_queue.front());
            m_queue.pop_front();
            m_nBytes -= Vantry::RECORD_DATA_OFFSET + record.payload.size();
            m_bBusy = true;
            lock.unlock();
            m_onRecord(record);
            lock.lock();
            m_bBusy = false;
            m_changed.notify_all();
        }
    });
}

CQueueSink::~CQueueSink() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_changed.notify_all();
    m_client.join();
}

void CQueueSink::Publish(const CPortId&, const CPortEvent& event) {
    const std::size_t nSize = Vantry::RECORD_DATA_OFFSET + event.payload.size();
    std::lock_guard lock(m_mutex);
    if (m_nBytes + nSize > CAPACITY) {
        ++m_qwDropped;
        return;
    }
    m_queue.push_back({event.nType,
                       event.dwProcessId,
                       event.qwTimeNs,
                       {event.payload.begin(), event.payload.end()}});
    m_nBytes += nSize;
    m_changed.notify_all();
}

void CQueueSink::Drain() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.empty() && !m_bBusy; });
}

std::uint64_t CQueueSink::Dropped() {
    std::lock_guard lock(m_mutex);
    return m_qwDropped;
}
