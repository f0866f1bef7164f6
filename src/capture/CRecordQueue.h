// The hand-over of fetched records from a monitor's reader thread to the
// user-interface thread. It is bounded: when the user-interface thread falls
// behind, the reader waits here instead of fetching, so the records pile up
// in the driver's own bounded queue, which counts what it has to drop.
#pragma once

#include "CCaptureRecord.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

class CRecordQueue {
public:
    static constexpr std::size_t DEFAULT_MAX_BYTES = 4u << 20;
    // What one queued record costs besides its bytes: its block's header and
    // its place in the queue, so that tiny records are bounded too.
    static constexpr std::size_t RECORD_OVERHEAD = 64;

    explicit CRecordQueue(std::size_t nMaxBytes = DEFAULT_MAX_BYTES) : m_nMaxBytes(nMaxBytes) {}
    CRecordQueue(const CRecordQueue&) = delete;
    CRecordQueue& operator=(const CRecordQueue&) = delete;

    // Reader side: waits while the queue is full (a record larger than the
    // whole bound still passes an empty queue). False once stopped; the
    // record is then dropped. bWake is set when the consumer has to be told
    // that records wait: once, until it has emptied the queue again.
    bool Push(CCaptureRecord record, bool& bWake);

    // User-interface side: the oldest record, or false when none waits.
    bool Pop(CCaptureRecord& record);

    // Ends every Push now and later.
    void Stop();
    // Drops every waiting record.
    void Clear();

    std::size_t QueuedBytes() const;

private:
    static std::size_t Cost(const CCaptureRecord& record) {
        return record.Size() + RECORD_OVERHEAD;
    }

    const std::size_t m_nMaxBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_roomFreed;
    std::deque<CCaptureRecord> m_records;
    std::size_t m_nBytes = 0;
    bool m_bStopped = false;
    bool m_bWakePending = false;
};
