// The ptrace side of the capture: which threads are traced, what their
// stops mean, and the records that follow. Everything here runs on the one
// tracer thread (ptrace requests are only valid from the thread that
// attached), which CTraceSource owns. Its stops and tracees are in
// CTracer.cpp, system calls in CTracerSyscalls.cpp, records, opens and
// closes in CTracerEvents.cpp.
#pragma once

#include "../IEventSource.h"
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
    CTracer(IEventSink& sink, pid_t nDoorbell);
    ~CTracer();
    CTracer(const CTracer&) = delete;
    CTracer& operator=(const CTracer&) = delete;

    int InotifyFd() const { return m_inotify.Fd(); }

    // An attachment of `viewer` came: watches the node (a duplicate of
    // hNode) when the port has none yet or its node is gone. 0 or an errno
    // value. Existing openers that a viewer may see are traced before it
    // returns.
    int Watch(const CPortId& port, int hNode, uid_t viewer);
    // An attachment of `viewer` went. Every thread that no longer holds a
    // watched port that one of its viewers may see is detached before it
    // returns, or, when it cannot stop in time, at its next stop.
    void Unwatch(const CPortId& port, uid_t viewer);
    void UnwatchAll();

    // Blocks until a tracee or the doorbell changes state and handles it;
    // returns true when it was the doorbell.
    bool WaitOnce();
    // The doorbell rang or the watcher's timer expired: opens and closes.
    void OnInotify();
    // Opens are waiting for their opener to be found, or a debugger may let
    // go of a process: look again soon.
    bool WantsTick() const;

private:
    struct CWatchedPort {
        CScopedFd node;
        int nWatch = -1; // -1: the node is gone; the next Watch brings the new one
        std::multiset<uid_t> viewers;
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
    // Waits for detaching threads to stop and lets them go, for a while.
    void WaitForDetaches();
    // waitpid for nWho (-1: any) until the deadline (CLOCK_MONOTONIC); 0
    // when nothing came by then.
    pid_t WaitUntil(pid_t nWho, std::uint64_t qwDeadlineNs, int& nStatus);
    void Forget(pid_t nTid);

    // Seizes every thread of nPid, whose port fds (from /proc) are `fds`;
    // publishes an open record first for each port in `opened` and then the
    // current settings of its ports.
    // qwOpenedNs: when it opened them (0: at the first open not yet
    // attributed), for the notice of how late it was traced.
    bool Attach(pid_t nPid, const std::map<int, CPortId>& fds, const std::set<CPortId>& opened,
                std::uint64_t qwOpenedNs = 0);
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
    pid_t GuessReleaser() const;
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
    pid_t m_nDoorbell;
    pid_t m_nSelf;
    CInotify m_inotify;
    CFanotify m_fanotify;
    std::map<pid_t, std::uint64_t> m_candidates; // openers fanotify named, and when
    std::map<CPortId, CWatchedPort> m_ports;
    std::map<int, CPortId> m_watchToPort;
    std::unordered_map<pid_t, CTracee> m_tracees;
    std::set<pid_t> m_earlyChildren;         // stopped before their parent's clone event
    std::vector<CProcessIdentity> m_refused; // traced by a debugger, reported once
    std::vector<CProcessIdentity> m_unseen;  // of users no viewer may see, reported once
    unsigned m_nInOpen = 0;                  // tracees inside an open-family call
    unsigned m_nDetaching = 0;
    pid_t m_nCurrent = 0; // the tracee whose stop is being handled
    bool m_bDoorbellRang = false;
    std::vector<std::uint8_t> m_buffer; // data of the current record

    struct CDeferredEvent {
        CPortId port;
        CPortEvent event;
        std::vector<std::uint8_t> payload;
    };
    bool m_bDeferPublish = false;
    std::vector<CDeferredEvent> m_deferred; // the first m_nDeferred are waiting
    std::size_t m_nDeferred = 0;
};
