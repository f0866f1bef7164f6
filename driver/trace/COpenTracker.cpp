// Opens and closes of the watched ports, as inotify and fanotify report
// them, and their processes: an open's opener is found and traced, a close
// is given to the traced process that released it.
#include "COpenTracker.h"

#include "ProcScanner.h"

#include "VantryProtocol.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>

namespace {

// An open whose opener is not traced yet is looked for again on the
// tracer's ticks; while a traced thread is inside an open the open is
// probably its own and waits for its exit stop, but not for ever (it may be
// blocked opening something else).
constexpr std::uint64_t DEFER_NS = 20'000'000;
constexpr std::uint64_t GIVE_UP_NS = 200'000'000;

// How long after its open an opener's fd may take to show in /proc.
constexpr std::uint64_t FD_APPEARS_NS = 5'000'000;

// Closers fanotify named that inotify has not reported yet.
constexpr std::size_t MAX_CLOSERS = 4096;

} // namespace

COpenTracker::COpenTracker(CWatchedPorts& ports, CTracees& tracees, CSeizer& seizer,
                           CVisibility& visibility, CPublisher& publisher)
    : m_ports(ports), m_tracees(tracees), m_seizer(seizer), m_visibility(visibility),
      m_publisher(publisher), m_nSelf(getpid()) {}

bool COpenTracker::DrainInotify(pid_t nCause, std::optional<CPortId> claimPort) {
    bool bClaimed = false;
    std::set<CPortId> releasedByCause;
    for (const auto& event : m_ports.Inotify().Drain()) {
        if (event.eKind == CInotify::EKind::Lost) {
            OnEventsLost();
            continue;
        }
        const auto watchedPort = m_ports.PortOfWatch(event.nWatch);
        if (!watchedPort)
            continue;
        const CPortId port = *watchedPort;
        auto& watched = m_ports.Port(port);
        // Only closes that fanotify counts too are compared with its count.
        if (event.eKind == CInotify::EKind::Closed && watched.bNamedByFanotify)
            m_tally.CountInotify();
        if (event.eKind == CInotify::EKind::Gone) {
            m_ports.NodeGone(port);
            continue;
        }
        if (event.eKind == CInotify::EKind::Changed) {
            if (!m_ports.HasLinks(watched.node.Get()))
                m_ports.NodeGone(port);
            continue;
        }
        if (event.eKind == CInotify::EKind::Opened) {
            if (claimPort == port && !bClaimed) {
                bClaimed = true;
                m_publisher.Publish(port, Vantry::CAPTURE_PORT_OPENED, nCause);
            } else if (!watched.bNamedByFanotify && watched.nUnclaimedOpens++ == 0) {
                // Without fanotify's openers, the open waits for a walk
                // through /proc (inotify folds opens that follow each other).
                watched.qwFirstUnclaimedNs = RealtimeNs();
            }
            continue;
        }
        // An open still unattributed happened before this close.
        if (watched.nUnclaimedOpens > 0)
            ResolveOpens(true);
        // A releasing cause's own close comes first; others queued with it
        // are of processes that closed at the same time.
        const bool bOwn = nCause != 0 && !claimPort && releasedByCause.insert(port).second;
        m_publisher.Publish(port, Vantry::CAPTURE_PORT_CLOSED,
                            TakeCloser(watched, bOwn ? nCause : 0));
    }
    return bClaimed;
}

pid_t COpenTracker::TakeCloser(const CWatchedPorts::CWatchedPort& watched, pid_t nOwn) {
    if (!watched.bNamedByFanotify)
        return nOwn != 0 ? nOwn : TakeReleaser();
    // Both queues get a close in the same kernel call: fanotify's is read
    // now, and may even be a moment behind.
    DrainFanotify();
    if (m_closers.empty())
        DrainFanotify();
    if (m_closers.empty())
        return nOwn != 0 ? nOwn : TakeReleaser();
    // A cause fanotify did not name has had its close already (its death
    // and its last close can both come as causes); closers in the order the
    // kernel released them otherwise.
    auto it = std::find(m_closers.begin(), m_closers.end(), nOwn);
    if (it == m_closers.end())
        it = m_closers.begin();
    const pid_t nCloser = *it;
    m_closers.erase(it);
    // Its release is seen: its next stop must not take another's close.
    for (auto& [nTid, tracee] : m_tracees.Threads()) {
        if (tracee.nTgid == nCloser)
            tracee.bReleasePending = false;
    }
    return nCloser;
}

void COpenTracker::OnEventsLost() {
    // Opens and closes (or their openers) are gone for good: say so, and
    // trace whoever holds a port now.
    m_tally.Reset();
    m_closers.clear();
    for (const auto& [port, watched] : m_ports.All())
        m_publisher.PublishNotice(port, 0, Vantry::NOTICE_EVENTS_LOST, 0);
    ScanForOpeners(true);
}

pid_t COpenTracker::TakeReleaser() {
    // One that is known to have released a port fd comes before one that
    // merely is in a call that may release one; its release is now seen,
    // and its next stop must not take another process's close for its own.
    for (auto& [nTid, tracee] : m_tracees.Threads()) {
        if (tracee.bReleasePending) {
            tracee.bReleasePending = false;
            return tracee.nTgid;
        }
    }
    // A dup2 over a port's last fd releases it too (a shell restoring its
    // stdout after `> port`).
    for (const auto& [nTid, tracee] : m_tracees.Threads()) {
        if (tracee.bInSyscall &&
            (tracee.eSyscall == ESyscall::Close || tracee.eSyscall == ESyscall::CloseRange ||
             tracee.eSyscall == ESyscall::Dup || tracee.eSyscall == ESyscall::Exit ||
             tracee.eSyscall == ESyscall::Exec))
            return tracee.nTgid;
    }
    // A process killed by a signal releases its fds before its death is
    // reported to us: look for one on its way out.
    std::set<pid_t> checked;
    for (const auto& [nTid, tracee] : m_tracees.Threads()) {
        if (checked.insert(tracee.nTgid).second && ProcScanner::IsExiting(tracee.nTgid))
            return tracee.nTgid;
    }
    return 0;
}

void COpenTracker::Look(std::uint64_t qwNowNs) {
    DrainInotify(0);
    ResolveOpens(false);
    // Which port inotify folded closes of is not known: each hears of it.
    // The closers it folded away will never be asked for.
    if (m_ports.Fanotify().IsActive() && m_tally.Check(qwNowNs)) {
        m_closers.clear();
        for (const auto& [port, watched] : m_ports.All())
            m_publisher.PublishNotice(port, 0, Vantry::NOTICE_EVENTS_LOST, 0);
    }
}

void COpenTracker::DrainFanotify() {
    const std::uint64_t qwNamed = RealtimeNs();
    bool bLost = false;
    std::vector<pid_t> closers;
    for (const pid_t nPid : m_ports.Fanotify().Drain(bLost, closers))
        m_candidates.emplace(nPid, qwNamed);
    m_tally.CountFanotify(unsigned(closers.size()));
    m_closers.insert(m_closers.end(), closers.begin(), closers.end());
    // Bounded: what the tally's look did not clear is long stale.
    while (m_closers.size() > MAX_CLOSERS)
        m_closers.pop_front();
    if (bLost)
        OnEventsLost();
}

void COpenTracker::ResolveOpens(bool bForce) {
    DrainFanotify();
    if (!m_ports.HasUnclaimedOpens() && m_candidates.empty())
        return;
    const std::uint64_t qwNow = RealtimeNs();
    std::uint64_t qwOldest = qwNow;
    for (const auto& [port, watched] : m_ports.All()) {
        if (watched.nUnclaimedOpens > 0)
            qwOldest = std::min(qwOldest, watched.qwFirstUnclaimedNs);
    }
    if (!bForce && m_tracees.InOpen() > 0 && qwNow - qwOldest < DEFER_NS)
        return;
    // The opener's fd appears in /proc only just after its inotify event:
    // look again a few times before leaving it to the next tick.
    for (int nTry = 0; nTry < 3 && (m_ports.HasUnclaimedOpens() || !m_candidates.empty()); ++nTry) {
        if (nTry > 0)
            sched_yield();
        ScanForOpeners(false);
    }
    for (auto& [port, watched] : m_ports.All()) {
        if (watched.nUnclaimedOpens == 0)
            continue;
        if (!bForce && qwNow - watched.qwFirstUnclaimedNs < GIVE_UP_NS)
            continue;
        // Opened and gone before we could see by whom.
        for (; watched.nUnclaimedOpens > 0; --watched.nUnclaimedOpens) {
            m_publisher.Publish(port, Vantry::CAPTURE_PORT_OPENED, 0);
            m_publisher.PublishNotice(port, 0, Vantry::NOTICE_USED_UNTRACED, 0);
        }
    }
}

void COpenTracker::ScanForOpeners(bool bEveryHolder) {
    std::set<pid_t> traced;
    for (const auto& [nTid, tracee] : m_tracees.Threads())
        traced.insert(tracee.nTgid);
    const auto ports = m_ports.WatchedPorts();
    // An opener that fanotify named is seized before its fds are read, so
    // that it stops as its open returns, before its first write (its open
    // may still be returning, its fd not in its table yet). Only where
    // whoever watches any port may see it, since its port is not known yet.
    auto seizeFirst = [&](pid_t nPid, std::uint64_t qwNamedNs) {
        const auto owner = ProcScanner::OwnerOf(nPid);
        if (!owner || ProcScanner::IsExiting(nPid) ||
            !std::all_of(ports.begin(), ports.end(), [&](const CPortId& port) {
                return m_visibility.MayTrace(*owner, {{0, port}});
            }))
            return false;
        m_seizer.Attach(nPid, {}, {}, qwNamedNs);
        traced.insert(nPid);
        return true;
    };
    // False when it holds no port (yet: its fd appears just after the open).
    // qwNamedNs: fanotify saw it open then; every port it holds is one it
    // just opened (it would be traced already otherwise).
    auto tryProcess = [&](pid_t nPid, std::uint64_t qwNamedNs) {
        if (nPid == m_nSelf || traced.count(nPid))
            return true;
        if (qwNamedNs != 0 && seizeFirst(nPid, qwNamedNs))
            return true;
        const auto fds = ProcScanner::PortFds(nPid, ports);
        if (fds.empty())
            return false;
        std::set<CPortId> opened;
        for (const auto& [nFd, port] : fds) {
            auto& watched = m_ports.Port(port);
            if (qwNamedNs != 0)
                opened.insert(port);
            else if (watched.nUnclaimedOpens > 0 && opened.insert(port).second)
                --watched.nUnclaimedOpens;
        }
        m_seizer.Attach(nPid, fds, opened, qwNamedNs);
        traced.insert(nPid);
        return true;
    };
    // fanotify names the openers: look at them alone. Without it (a kernel
    // that refuses it, or opens lost to an overflow) all of /proc is looked
    // through.
    const std::uint64_t qwNow = RealtimeNs();
    // Attaching handles stops, which may land here again: work on a copy.
    for (const auto& [nPid, qwNamed] : std::exchange(m_candidates, {})) {
        if (tryProcess(nPid, qwNamed))
            continue;
        // Its fd appears just after its open; one that holds none a while
        // later, or is gone, used the port untraced.
        if (qwNow - qwNamed < FD_APPEARS_NS && !ProcScanner::IsExiting(nPid))
            m_candidates.emplace(nPid, qwNamed);
        else
            m_seizer.ClaimUntraced(nPid);
    }
    if (m_ports.AllNamedByFanotify() && !bEveryHolder)
        return;
    auto processes = ProcScanner::ListProcesses();
    // The newest processes first: an opener is usually young.
    std::sort(processes.rbegin(), processes.rend());
    for (const pid_t nPid : processes) {
        // Every open is accounted for: the rest of /proc can wait (a
        // thousand stat calls are most of the open-to-traced time).
        if (!bEveryHolder && !m_ports.HasUnclaimedOpens())
            break;
        tryProcess(nPid, 0);
    }
}
