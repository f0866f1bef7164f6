// Seizing the processes that hold a watched port: who may be traced, the
// seize itself, and whose a seized process is, told only once it stopped
// under the tracer (a set-user-ID exec may change it before). Its opens
// and its settings wait for that.
#pragma once

#include "../IEventSource.h"
#include "CProcessIdentity.h"
#include "CPublisher.h"
#include "CTracees.h"
#include "CVisibility.h"
#include "CWatchedPorts.h"

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

class CSeizer {
public:
    CSeizer(CWatchedPorts& ports, CTracees& tracees, CVisibility& visibility,
            CPublisher& publisher);

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
    // Traces the holders of the port that are not traced yet. With
    // foundLateUs, the port was watched before and its holders looked at
    // that long ago: one found now got its fd since, without an open, and
    // its notice says how late it may be traced.
    void TraceHolders(const CPortId& port, std::optional<std::uint32_t> foundLateUs = std::nullopt);
    // A later attachment dwHandle of the port is told of its holders what
    // the earlier ones were as each was first traced: its settings, or that
    // a debugger holds it. One still being seized tells every attachment;
    // one nobody may see is named, unless bUnseenToo is false (it was named
    // to every attachment again).
    void TellHolders(const CPortId& port, std::uint32_t dwHandle, bool bUnseenToo);
    // The first stop of a thread of a process that Attach seized: whose it
    // is, read now, says whether its opens are published or it is let go.
    // False when it is not traced on.
    bool ReadOwnerOnceStopped(pid_t nPid);
    // Once every thread of the process that Attach seized has stopped, its
    // settings are read and published.
    void PublishSettingsOnceStopped(pid_t nPid);
    // Those of processes whose threads did not all stop in time (by qwNowNs,
    // CLOCK_MONOTONIC).
    void PublishOverdueSettings(std::uint64_t qwNowNs);
    void RetryRefused();
    // An opener that came and went untraced: its open is one of the
    // unclaimed ones.
    void ClaimUntraced(pid_t nPid);
    // The user whose traffic a traced process's records are.
    uid_t OwnerOf(pid_t nPid) const;
    // Nothing waits for a later look: no seizure and no refusal.
    bool IsIdle() const { return m_refused.empty() && m_seizures.empty(); }

private:
    // A seized process until every thread of it stopped: what it opened
    // and its settings wait for whose it is.
    struct CSeizure {
        std::map<int, CPortId> fds;
        std::map<CPortId, std::uint32_t> lateUs; // the ports it opened untraced: how long ago
        std::map<CPortId, std::uint32_t>
            foundUs;                    // the ports it got without an open: at most how long ago
        std::uint64_t qwDeadlineNs = 0; // CLOCK_MONOTONIC: settings published then even so
        bool bOwnerKnown = false;       // read once a thread stopped
    };

    // PTRACE_SEIZE said EPERM: a debugger, an exit, or a refusal of the
    // system's, told apart and reported.
    void OnSeizeRefused(const CProcessIdentity& identity, const std::map<int, CPortId>& fds);

    CWatchedPorts& m_ports;
    CTracees& m_tracees;
    CVisibility& m_visibility;
    CPublisher& m_publisher;
    pid_t m_nSelf;
    std::vector<CProcessIdentity> m_refused; // traced by a debugger, reported once
    std::map<pid_t, CSeizure> m_seizures;    // by process
};
