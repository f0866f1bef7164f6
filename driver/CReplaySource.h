// An event source that replays a record file: every attachment is served
// the file's records from the first, in order, either with the pacing they
// were recorded with or all at once. The recorded time and process id stay;
// the driver numbers the records anew for each attachment. One thread serves
// every attachment, publishing without holding its own lock.
#pragma once

#include "IEventSource.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CReplaySource : public IEventSource {
public:
    // The longest pause a paced replay makes between two records: idle time
    // in a capture says nothing, and a damaged time must not stall it.
    static constexpr std::chrono::seconds MAX_PAUSE{1};

    // Reads and checks the whole file; empty with a message when it cannot be
    // replayed (unreadable, truncated, or a record too short for its type).
    static std::unique_ptr<CReplaySource> Load(const std::string& strPath, bool bFast,
                                               IEventSink& sink, std::string& strError);
    ~CReplaySource() override;

    // Every attachment gets the whole capture from its start.
    void WatchPort(const CPortId& port, int hNode, uid_t viewer, std::uint32_t dwHandle,
                   std::function<void(int)> done) override;
    void UnwatchPort(std::uint32_t dwHandle) override;

private:
    using Clock = std::chrono::steady_clock;

    struct CReplayRecord {
        CPortEvent m_event;
        std::chrono::nanoseconds m_offset; // from the start of the replay
    };
    struct CCursor {
        Clock::time_point m_start;
        std::size_t m_nNext = 0;
    };

    CReplaySource(IEventSink& sink, bool bFast) : m_sink(sink), m_bFast(bFast) {}
    void Run();

    IEventSink& m_sink;
    const bool m_bFast;
    std::vector<std::uint8_t> m_bytes;
    std::vector<CReplayRecord> m_records;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::uint32_t, CCursor> m_cursors;
    bool m_bStopping = false;
    std::thread m_thread;
};
