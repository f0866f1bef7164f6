// The live event source: watches ports by tracing the processes that hold
// them (CTracer) on a thread of its own. A second thread waits on inotify
// and rings the tracer's doorbell, because the tracer itself can only
// block in waitpid.
#pragma once

#include "../IEventSource.h"
#include "CScopedFd.h"

#include <atomic>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

class CTraceSource : public IEventSource {
public:
    explicit CTraceSource(IEventSink& sink);
    // Detaches from every traced process; they run on untouched.
    ~CTraceSource() override;
    CTraceSource(const CTraceSource&) = delete;
    CTraceSource& operator=(const CTraceSource&) = delete;

    int WatchPort(const CPortId& port, int hNode, uid_t viewer) override;
    void UnwatchPort(const CPortId& port, uid_t viewer) override;

private:
    enum class ECommand { Watch, Unwatch, Stop };
    struct CCommand {
        ECommand eCommand;
        CPortId port;
        int hNode = -1; // valid while the caller waits for the result
        uid_t viewer = 0;
        std::promise<int> result;
    };

    int Submit(ECommand eCommand, const CPortId& port = {}, int hNode = -1, uid_t viewer = 0);
    void TracerMain(std::promise<void> started);
    void WatcherMain();

    IEventSink& m_sink;
    std::mutex m_mutex;
    std::deque<CCommand> m_commands; // a handful at most: callers wait for theirs
    std::atomic<pid_t> m_nDoorbell{-1};
    std::atomic<int> m_hInotify{-1};
    std::atomic<bool> m_bTick{false}; // the tracer wants a look at opens soon
    CScopedFd m_stop;                 // eventfd: the watcher ends
    CScopedFd m_handled;              // eventfd: the tracer has looked at inotify
    CScopedFd m_tick;                 // eventfd: m_bTick was just set
    std::thread m_tracer;
    std::thread m_watcher;
};
