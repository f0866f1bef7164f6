// The ptrace side of the capture: the processes that hold a watched port
// are traced, and their stops become records. Everything here runs on the
// one tracer thread (ptrace requests are only valid from the thread that
// attached), which CTraceSource owns. Nothing here waits for a tracee: the
// thread sleeps only in CTraceSource's poll, and a stop, an open or a
// command is handled as it comes. What any source shares (the watched
// ports, who may see whom, publishing) is in driver/live; the traced
// threads are in CTracees, seizing in CSeizer, system-call stops in
// CSyscallStops, opens and closes in COpenTracker.
#pragma once

#include "../IEventSource.h"
#include "CHolderLook.h"
#include "COpenTracker.h"
#include "CPublisher.h"
#include "CScopedFd.h"
#include "CSeizer.h"
#include "CSyscallStops.h"
#include "CTracees.h"
#include "CVisibility.h"
#include "CWatchedPorts.h"

#include <sys/types.h>

#include <cstdint>

class CTracer {
public:
    // SIGCHLD must be blocked in the calling thread (and in every other).
    explicit CTracer(IEventSink& sink);
    ~CTracer();
    CTracer(const CTracer&) = delete;
    CTracer& operator=(const CTracer&) = delete;

    // Readable: tracees changed state (SIGCHLD), ports were opened or closed.
    int SignalFd() const { return m_signals.Get(); }
    int InotifyFd() const { return m_ports.InotifyFd(); }
    int FanotifyFd() const { return m_ports.FanotifyFd(); }

    // Attachment dwHandle of `viewer` came: watches `node` when the port has
    // no node yet or its node is gone. 0 or an errno value (then nothing
    // changed). Existing openers that a viewer may see are seized before it
    // returns; their settings follow once they stopped.
    int Watch(const CPortId& port, CScopedFd node, uid_t viewer, std::uint32_t dwHandle);
    // That attachment went (nothing when it was never watched). Every thread
    // that no longer holds a watched port one of its viewers may see is let
    // go at its next stop.
    void Unwatch(std::uint32_t dwHandle);
    void UnwatchAll();
    // Threads are still to be let go.
    bool IsDetaching() const { return m_tracees.IsDetaching(); }

    // SignalFd was readable: handles what waitpid reports. False when it
    // stopped early to let the rest wait (more may be waiting).
    bool OnChildSignal();
    // inotify or fanotify was readable, or TimeoutMs ran out: opens and closes.
    void OnInotify();
    // How long until OnInotify wants another look (opens waiting for their
    // opener, a debugger that may let go, settings still due, the holders'
    // next look); -1: none.
    int TimeoutMs() const;

private:
    void OnWaitStatus(pid_t nTid, int nStatus);

    CScopedFd m_signals; // signalfd for SIGCHLD
    CWatchedPorts m_ports;
    CPublisher m_publisher;
    CVisibility m_visibility;
    CTracees m_tracees;
    CSeizer m_seizer;
    COpenTracker m_opens;
    CHolderLook m_holders;
    CSyscallStops m_syscalls;
    std::uint64_t m_qwLastLookNs = 0; // of OnInotify, CLOCK_MONOTONIC
};
