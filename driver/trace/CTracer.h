// The ptrace side of the capture: which threads are traced, what their
// stops mean, and the records that follow. Everything here runs on the one
// tracer thread (ptrace requests are only valid from the thread that
// attached), which CTraceSource owns. Nothing here waits for a tracee: the
// thread sleeps only in CTraceSource's poll, and a stop, an open or a
// command is handled as it comes. Its stops and tracees are in
// CTracer.cpp, seizing in CTracerAttach.cpp, system calls in
// CTracerSyscalls.cpp, records, opens and closes in CTracerEvents.cpp.
#pragma once

#include "../IEventSource.h"
#include "CEventTally.h"
#include "CFanotify.h"
#include "CInotify.h"
#include "CProcessIdentity.h"
#include "CScopedFd.h"
#include "CTracee.h"
#include "TermiosDecoder.h"

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

class CTracer {
public:
    // SIGCHLD must be blocked in the calling thread (and in every other).
    explicit CTracer(IEventSink& sink);
    ~CTracer();
    CTracer(const CTracer&) = delete;
    CTracer& operator=(const CTracer&) = delete;

    // Readable: tracees changed state (SIGCHLD), ports were opened or closed.
    int SignalFd() const { return m_signals.Get(); }
    int InotifyFd() const { return m_inotify.Fd(); }
    int FanotifyFd() const { return m_fanotify.Fd(); }

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
    bool IsDetaching() const { return m_nDetaching > 0; }

    // SignalFd was readable: handles what waitpid reports. False when it
    // stopped early to let the rest wait (more may be waiting).
    bool OnChildSignal();
    // inotify or fanotify was readable, or TimeoutMs ran out: opens and closes.
    void OnInotify();
    // How long until OnInotify wants another look (opens waiting for their
    // opener, a debugger that may let go, settings still due); -1: none.
    int TimeoutMs() const;

private:
    struct CWatchedPort {
        CScopedFd node;
        int nWatch = -1; // -1: the node is gone; the next Watch brings the new one
        std::map<std::uint32_t, uid_t> viewers; // attachment handle: its user
        unsigned nUnclaimedOpens = 0;
        std::uint64_t qwFirstUnclaimedNs = 0;
    };

    void OnWaitStatus(pid_t nTid, int nStatus);
    void OnSyscallStop(CTracee& tracee);
    void OnEntry(CTracee& tracee);
    void OnExit(CTracee& tracee, std::int64_t nResult, bool bError);
    void OnDataExit(CTracee& tracee, std::int64_t nResult, bool bRead, bool bVector);
    void OnTermiosExit(CTracee& tracee);
    // The thread moved port data with a call we cannot decode: a notice
    // names the process and the call, once per thread and call.
    void ReportUndecoded(CTracee& tracee, std::uint32_t dwCall, const std::map<int, CPortId>& fds);
    void OnOpenExit(CTracee& tracee, std::int64_t nResult);
    void OnClone(CTracee& tracee, int nEvent);
    CTracee& OnExec(CTracee& tracee);
    void PortFdRemoved(CTracee& tracee);

    // A ptrace request whose failure is logged (a thread that died meanwhile aside).
    void Request(int nRequest, pid_t nTid, int nSignal = 0);
    // Continues the thread (or lets it go when it is to be detached).
    void Resume(CTracee& tracee, int nSignal, bool bListen = false);
    void RequestDetach(CTracee& tracee);
    // The process is wanted again: its threads' detaches are called off.
    void KeepTracing(pid_t nPid);
    void Forget(pid_t nTid);
    // The first stop of a thread of a process that Attach seized: whose it
    // is, read now, says whether its opens are published or it is let go.
    // False when it is not traced on.
    bool ReadOwnerOnceStopped(pid_t nPid);
    // Once every thread of the process that Attach seized has stopped, its
    // settings are read and published.
    void PublishSettingsOnceStopped(pid_t nPid);
    // Those of processes whose threads did not all stop in time.
    void PublishOverdueSettings();

    // Seizes every thread of nPid, whose port fds (from /proc) are `fds`;
    // once a thread stopped and the process is still one a viewer may see,
    // publishes an open record for each port in `opened`, and the current
    // settings of its ports once every thread stopped.
    // qwOpenedNs: when it opened them (0: at the first open not yet
    // attributed), for the notice of how late it was traced.
    // With no fds, nPid is an opener that fanotify named before its fd is in
    // its table: it is seized first, and its fds are read as its open ends.
    bool Attach(pid_t nPid, std::map<int, CPortId> fds, std::set<CPortId> opened,
                std::uint64_t qwOpenedNs = 0);
    void DropPort(std::map<CPortId, CWatchedPort>::iterator it);
    // Another user's process, named once on these ports.
    void NameUnseen(const CProcessIdentity& identity, const std::map<int, CPortId>& fds);
    // Whether a viewer of one of these ports may see a process of `owner`.
    bool MayTrace(uid_t owner, const std::map<int, CPortId>& fds) const;
    // Lets go of every process that no viewer may see any more.
    void DetachUnseen();
    // PTRACE_SEIZE said EPERM: a debugger, an exit, or a refusal of the
    // system's, told apart and reported.
    void OnSeizeRefused(const CProcessIdentity& identity, const std::map<int, CPortId>& fds);
    void RetryRefused();
    bool HasUnclaimedOpens() const;
    void ReportOnce(pid_t nPid, const std::map<int, CPortId>& fds, std::uint32_t dwCode);
    void PublishNotice(const CPortId& port, pid_t nPid, std::uint32_t dwCode,
                       std::uint32_t dwValue);
    // The same, followed by the process's command name.
    void PublishNamedNotice(const CPortId& port, pid_t nPid, std::uint32_t dwCode,
                            std::uint32_t dwValue);
    void PublishCurrentSettings(pid_t nPid, const std::map<int, CPortId>& fds);
    void PublishSettings(const CPortId& port, pid_t nPid, const CLineSettings& settings);
    static std::uint64_t MonotonicNs();
    // Whether a node still has a name (a removed one has none).
    static bool HasLinks(int hNode);
    // The node of a watched port went away: its watch ends.
    void NodeGone(const CPortId& port);
    // Traces the holders of the port that are not traced yet.
    void TraceHolders(const CPortId& port);

    // Reads the queued opens and closes; an open of `claimPort` is the
    // cause's own and published at once.
    bool DrainInotify(pid_t nCause, std::optional<CPortId> claimPort = std::nullopt);
    void ResolveOpens(bool bForce);
    // Traces untraced holders, newest first, until every unclaimed open
    // has its opener (or, with bEveryHolder, all of them).
    void ScanForOpeners(bool bEveryHolder);
    // Who released a port description that inotify reports without a cause.
    pid_t TakeReleaser();
    // The inotify or fanotify queue overflowed.
    void OnEventsLost();
    // An opener that came and went untraced: its open is one of the
    // unclaimed ones.
    void ClaimUntraced(pid_t nPid);

    void Publish(const CPortId& port, std::int8_t nType, pid_t nPid,
                 std::span<const std::uint8_t> payload = {});
    void FlushPublishes();
    // Frees a scratch buffer that a large call grew; true when it did.
    static bool Release(std::vector<std::uint8_t>& buffer);
    std::set<CPortId> WatchedPorts() const;
    // The user whose traffic a traced process's records are.
    uid_t OwnerOf(pid_t nPid) const;

    IEventSink& m_sink;
    pid_t m_nSelf;
    CScopedFd m_signals; // signalfd for SIGCHLD
    CInotify m_inotify;
    CFanotify m_fanotify;
    CEventTally m_tally;                         // inotify's closes against fanotify's
    std::map<pid_t, std::uint64_t> m_candidates; // openers fanotify named, and when
    std::map<CPortId, CWatchedPort> m_ports;
    std::map<int, CPortId> m_watchToPort;
    std::unordered_map<pid_t, CTracee> m_tracees;
    std::set<pid_t> m_earlyChildren;         // stopped before their parent's clone event
    std::vector<CProcessIdentity> m_refused; // traced by a debugger, reported once
    std::vector<CProcessIdentity> m_unseen;  // of users no viewer may see, reported once
    unsigned m_nInOpen = 0;                  // tracees inside an open-family call
    unsigned m_nDetaching = 0;
    pid_t m_nCurrent = 0;             // the tracee whose stop is being handled
    std::uint64_t m_qwLastLookNs = 0; // of OnInotify, CLOCK_MONOTONIC
    // A seized process until every thread of it stopped: what it opened
    // and its settings wait for whose it is.
    struct CSeizure {
        std::map<int, CPortId> fds;
        std::map<CPortId, std::uint32_t> lateUs; // the ports it opened untraced: how long ago
        std::uint64_t qwDeadlineNs = 0;          // CLOCK_MONOTONIC: settings published then even so
        bool bOwnerKnown = false;                // read once a thread stopped
    };
    std::map<pid_t, CSeizure> m_seizures; // by process
    std::vector<std::uint8_t> m_buffer;   // data of the current record

    struct CDeferredEvent {
        CPortId port;
        CPortEvent event;
        std::vector<std::uint8_t> payload;
    };
    bool m_bDeferPublish = false;
    std::vector<CDeferredEvent> m_deferred; // the first m_nDeferred are waiting
    std::size_t m_nDeferred = 0;
};
