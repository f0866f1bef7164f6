// The live event source: watches ports by tracing the processes that hold
// them (CTracer) on one thread of its own, which sleeps in a single poll
// over the tracees' SIGCHLD (a signalfd), inotify, fanotify and the
// commands that the driver's thread hands over. The driver's thread never
// waits for it: a watch is answered through its callback, an unwatch is
// carried out as the tracees stop.
#pragma once

#include "../IEventSource.h"
#include "CScopedFd.h"

#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

class CTraceSource : public IEventSource {
public:
    // The tracer hears of its tracees through SIGCHLD, which must be blocked
    // in every thread of the process: called first thing in main, before
    // any thread starts.
    static void BlockChildSignal();

    explicit CTraceSource(IEventSink& sink);
    // Lets go of every traced process; they run on untouched.
    ~CTraceSource() override;
    CTraceSource(const CTraceSource&) = delete;
    CTraceSource& operator=(const CTraceSource&) = delete;

    void WatchPort(const CPortId& port, int hNode, uid_t viewer, std::uint32_t dwHandle,
                   std::function<void(int)> done) override;
    void UnwatchPort(std::uint32_t dwHandle) override;
    // WatchPort that waits for its answer, for a tool with nothing else to do.
    int Watch(const CPortId& port, int hNode, uid_t viewer, std::uint32_t dwHandle);

private:
    enum class ECommand { Watch, Unwatch, Stop };
    struct CCommand {
        ECommand eCommand;
        CPortId port;
        CScopedFd node;
        uid_t viewer = 0;
        std::uint32_t dwHandle = 0;
        std::function<void(int)> done;
    };

    void Queue(CCommand command);
    void TracerMain(std::promise<void> started);

    IEventSink& m_sink;
    std::mutex m_mutex;
    std::deque<CCommand> m_commands;
    CScopedFd m_hCommands; // eventfd: m_commands has more
    std::thread m_tracer;
};
