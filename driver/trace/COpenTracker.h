// Opens and closes of the watched ports, as inotify and fanotify report
// them: an open's opener is found (fanotify names it; without it, a walk
// through /proc) and traced, and a close is given to the traced process
// that released the port's description.
#pragma once

#include "../IEventSource.h"
#include "CEventTally.h"
#include "CPublisher.h"
#include "CSeizer.h"
#include "CTracees.h"
#include "CVisibility.h"
#include "CWatchedPorts.h"

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>

class COpenTracker {
public:
    COpenTracker(CWatchedPorts& ports, CTracees& tracees, CSeizer& seizer, CVisibility& visibility,
                 CPublisher& publisher);

    // inotify or fanotify was readable, or the tick came (qwNowNs,
    // CLOCK_MONOTONIC): opens and closes.
    void Look(std::uint64_t qwNowNs);
    // Reads the queued opens and closes; an open of `claimPort` is the
    // cause's own and published at once.
    bool DrainInotify(pid_t nCause, std::optional<CPortId> claimPort = std::nullopt);
    void ResolveOpens(bool bForce);
    // Nothing waits for a later look: no opener named and not traced yet,
    // no open without its opener, the counts of closes agree.
    bool IsSettled() const {
        return m_candidates.empty() && !m_ports.HasUnclaimedOpens() &&
               (!m_ports.Fanotify().IsActive() || m_tally.IsSettled());
    }

private:
    // Traces untraced holders, newest first, until every unclaimed open
    // has its opener (or, with bEveryHolder, all of them).
    void ScanForOpeners(bool bEveryHolder);
    // Reads fanotify: the openers it names, and who closed.
    void DrainFanotify();
    // Who released a port description whose close inotify reports: the
    // closer fanotify named (the cause's own first), when it did.
    pid_t TakeCloser(const CWatchedPorts::CWatchedPort& watched, pid_t nOwn);
    // The same without fanotify's closers.
    pid_t TakeReleaser();
    // The inotify or fanotify queue overflowed.
    void OnEventsLost();

    CWatchedPorts& m_ports;
    CTracees& m_tracees;
    CSeizer& m_seizer;
    CVisibility& m_visibility;
    CPublisher& m_publisher;
    pid_t m_nSelf;
    CEventTally m_tally;                         // inotify's closes against fanotify's
    std::map<pid_t, std::uint64_t> m_candidates; // openers fanotify named, and when
    std::deque<pid_t> m_closers; // closers fanotify named whose inotify close is still to come
};
