// Stands in for the driver's attachment queue in the benchmarks: records
// are copied into a queue capped at 16 MiB (what the driver allows one
// attachment) and a client thread drains it. A record that does not fit is
// dropped and counted, never waited for: the source must not be slowed.
#pragma once

#include "IEventSource.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct CQueuedRecord {
    std::int8_t nType;
    std::uint32_t dwPid;
    std::uint64_t qwTimeNs;
    std::vector<std::uint8_t> payload;
};

class CQueueSink : public IEventSink {
public:
    static constexpr std::size_t CAPACITY = 16u << 20;

    explicit CQueueSink(std::function<void(const CQueuedRecord&)> onRecord);
    ~CQueueSink() override;
    void Publish(const CPortId& port, const CPortEvent& event) override;
    // Waits until the client has taken everything queued so far.
    void Drain();
    std::uint64_t Dropped();

private:
    std::function<void(const CQueuedRecord&)> m_onRecord;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<CQueuedRecord> m_queue;
    std::size_t m_nBytes = 0;
    std::uint64_t m_qwDropped = 0;
    bool m_bBusy = false;
    bool m_bStop = false;
    std::thread m_client;
};
