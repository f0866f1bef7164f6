// CTracer's records: publishing (deferred while a tracee is stopped), the
// settings and notices, and the opens and closes that inotify reports.
#include "CTracer.h"

#include "PortSettings.h"
#include "ProcScanner.h"

#include "VantryProtocol.h"

#include <malloc.h>
#include <sched.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace {

// An open whose opener is not traced yet is looked for again on the
// tracer's ticks; while a traced thread is inside an open the open is
// probably its own and waits for its exit stop, but not for ever (it may be
// blocked opening something else).
constexpr std::uint64_t DEFER_NS = 20'000'000;
constexpr std::uint64_t GIVE_UP_NS = 200'000'000;

// How long after its open an opener's fd may take to show in /proc.
constexpr std::uint64_t FD_APPEARS_NS = 5'000'000;

// The longest command name the kernel keeps (TASK_COMM_LEN less its NUL).
constexpr std::size_t NAME_SIZE = 15;

} // namespace

void CTracer::Publish(const CPortId& port, std::int8_t nType, pid_t nPid,
                      std::span<const std::uint8_t> payload) {
    CPortEvent event;
    event.nType = nType;
    event.dwProcessId = std::uint32_t(nPid > 0 ? nPid : 0);
    event.qwTimeNs = RealtimeNs();
    event.uidProcess = OwnerOf(nPid);
    // Notices that only name a process left untraced are for every viewer.
    if (nType == Vantry::CAPTURE_DRIVER_NOTICE && payload.size() >= 4) {
        const std::uint32_t dwCode = Vantry::GetU32(payload.data());
        if (dwCode == Vantry::NOTICE_PROCESS_NOT_TRACED ||
            dwCode == Vantry::NOTICE_PROCESS_OF_OTHER_USER)
            event.uidProcess = EVERY_VIEWER;
    }
    if (!m_bDeferPublish) {
        event.payload = payload;
        m_sink.Publish(port, event);
        return;
    }
    // Kept (buffers reused) until the tracee runs again.
    if (m_nDeferred == m_deferred.size())
        m_deferred.emplace_back();
    auto& deferred = m_deferred[m_nDeferred++];
    deferred.port = port;
    deferred.event = event;
    deferred.payload.assign(payload.begin(), payload.end());
}

void CTracer::FlushPublishes() {
    bool bReleased = false;
    for (std::size_t i = 0; i < m_nDeferred; ++i) {
        auto& deferred = m_deferred[i];
        deferred.event.payload = deferred.payload;
        m_sink.Publish(deferred.port, deferred.event);
        bReleased = Release(deferred.payload) || bReleased;
    }
    m_nDeferred = 0;
    if (Release(m_buffer) || bReleased)
        malloc_trim(0); // and the heap gives back what the records held
}

bool CTracer::Release(std::vector<std::uint8_t>& buffer) {
    // Buffers are reused from call to call, but one large call must not
    // leave the driver large.
    constexpr std::size_t KEEP = 1u << 20;
    if (buffer.capacity() <= KEEP)
        return false;
    std::vector<std::uint8_t>().swap(buffer);
    return true;
}

void CTracer::PublishSettings(const CPortId& port, pid_t nPid, const CLineSettings& settings) {
    if (settings.dwBaudRate) {
        std::uint8_t baud[4];
        Vantry::PutU32(baud, *settings.dwBaudRate);
        Publish(port, Vantry::CAPTURE_BAUD_RATE, nPid, baud);
    }
    const std::uint8_t lineControl[3] = {settings.byStopBits, settings.byParity,
                                         settings.byWordLength};
    Publish(port, Vantry::CAPTURE_LINE_CONTROL, nPid, lineControl);
}

void CTracer::PublishCurrentSettings(pid_t nPid, const std::map<int, CPortId>& fds) {
    std::set<CPortId> done;
    for (const auto& [nFd, port] : fds) {
        if (!done.insert(port).second)
            continue;
        if (const auto settings = PortSettings::ReadFromProcess(nPid, nFd))
            PublishSettings(port, nPid, *settings);
    }
}

void CTracer::PublishNotice(const CPortId& port, pid_t nPid, std::uint32_t dwCode,
                            std::uint32_t dwValue) {
    std::uint8_t payload[Vantry::NOTICE_PAYLOAD_SIZE];
    Vantry::PutU32(payload, dwCode);
    Vantry::PutU32(payload + 4, dwValue);
    Publish(port, Vantry::CAPTURE_DRIVER_NOTICE, nPid, payload);
}

void CTracer::PublishNamedNotice(const CPortId& port, pid_t nPid, std::uint32_t dwCode,
                                 std::uint32_t dwValue) {
    std::uint8_t payload[Vantry::NOTICE_PAYLOAD_SIZE + NAME_SIZE];
    Vantry::PutU32(payload, dwCode);
    Vantry::PutU32(payload + 4, dwValue);
    std::string strName;
    std::getline(std::ifstream("/proc/" + std::to_string(nPid) + "/comm"), strName);
    strName.resize(std::min(strName.size(), NAME_SIZE));
    std::copy(strName.begin(), strName.end(), payload + Vantry::NOTICE_PAYLOAD_SIZE);
    Publish(port, Vantry::CAPTURE_DRIVER_NOTICE, nPid,
            {payload, Vantry::NOTICE_PAYLOAD_SIZE + strName.size()});
}

void CTracer::ReportOnce(pid_t nPid, const std::map<int, CPortId>& fds, std::uint32_t dwCode) {
    std::set<CPortId> done;
    for (const auto& [nFd, port] : fds) {
        if (!done.insert(port).second)
            continue;
        if (dwCode == Vantry::NOTICE_USED_UNTRACED)
            PublishNamedNotice(port, nPid, dwCode, 0);
        else
            PublishNotice(port, nPid, dwCode, std::uint32_t(nPid));
    }
}

bool CTracer::DrainInotify(pid_t nCause, std::optional<CPortId> claimPort) {
    bool bClaimed = false;
    std::set<CPortId> releasedByCause;
    for (const auto& event : m_inotify.Drain()) {
        if (event.eKind == CInotify::EKind::Lost) {
            OnEventsLost();
            continue;
        }
        if (event.eKind == CInotify::EKind::Closed)
            m_tally.CountInotify();
        const auto itPort = m_watchToPort.find(event.nWatch);
        if (itPort == m_watchToPort.end())
            continue;
        const CPortId port = itPort->second;
        auto& watched = m_ports[port];
        if (event.eKind == CInotify::EKind::Gone) {
            NodeGone(port);
            continue;
        }
        if (event.eKind == CInotify::EKind::Changed) {
            if (!HasLinks(watched.node.Get()))
                NodeGone(port);
            continue;
        }
        if (event.eKind == CInotify::EKind::Opened) {
            if (claimPort == port && !bClaimed) {
                bClaimed = true;
                Publish(port, Vantry::CAPTURE_PORT_OPENED, nCause);
            } else if (!m_fanotify.IsActive() && watched.nUnclaimedOpens++ == 0) {
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
        Publish(port, Vantry::CAPTURE_PORT_CLOSED, bOwn ? nCause : TakeReleaser());
    }
    return bClaimed;
}

void CTracer::OnEventsLost() {
    // Opens and closes (or their openers) are gone for good: say so, and
    // trace whoever holds a port now.
    m_tally.Reset();
    for (const auto& [port, watched] : m_ports)
        PublishNotice(port, 0, Vantry::NOTICE_EVENTS_LOST, 0);
    ScanForOpeners(true);
}

pid_t CTracer::TakeReleaser() {
    // One that is known to have released a port fd comes before one that
    // merely is in a call that may release one; its release is now seen,
    // and its next stop must not take another process's close for its own.
    for (auto& [nTid, tracee] : m_tracees) {
        if (tracee.bReleasePending) {
            tracee.bReleasePending = false;
            return tracee.nTgid;
        }
    }
    for (const auto& [nTid, tracee] : m_tracees) {
        if (tracee.bInSyscall &&
            (tracee.eSyscall == ESyscall::Close || tracee.eSyscall == ESyscall::Exit ||
             tracee.eSyscall == ESyscall::Exec))
            return tracee.nTgid;
    }
    // A process killed by a signal releases its fds before its death is
    // reported to us: look for one on its way out.
    std::set<pid_t> checked;
    for (const auto& [nTid, tracee] : m_tracees) {
        if (checked.insert(tracee.nTgid).second && ProcScanner::IsExiting(tracee.nTgid))
            return tracee.nTgid;
    }
    return 0;
}

void CTracer::OnInotify() {
    m_qwLastLookNs = MonotonicNs();
    DrainInotify(0);
    ResolveOpens(false);
    // Which port inotify folded closes of is not known: each hears of it.
    if (m_fanotify.IsActive() && m_tally.Check(m_qwLastLookNs)) {
        for (const auto& [port, watched] : m_ports)
            PublishNotice(port, 0, Vantry::NOTICE_EVENTS_LOST, 0);
    }
    RetryRefused();
    PublishOverdueSettings();
}

void CTracer::ResolveOpens(bool bForce) {
    const std::uint64_t qwNamed = RealtimeNs();
    bool bLost = false;
    unsigned nCloses = 0;
    for (const pid_t nPid : m_fanotify.Drain(bLost, nCloses))
        m_candidates.emplace(nPid, qwNamed);
    m_tally.CountFanotify(nCloses);
    if (bLost)
        OnEventsLost();
    if (!HasUnclaimedOpens() && m_candidates.empty())
        return;
    const std::uint64_t qwNow = RealtimeNs();
    std::uint64_t qwOldest = qwNow;
    for (const auto& [port, watched] : m_ports) {
        if (watched.nUnclaimedOpens > 0)
            qwOldest = std::min(qwOldest, watched.qwFirstUnclaimedNs);
    }
    if (!bForce && m_nInOpen > 0 && qwNow - qwOldest < DEFER_NS)
        return;
    // The opener's fd appears in /proc only just after its inotify event:
    // look again a few times before leaving it to the next tick.
    for (int nTry = 0; nTry < 3 && (HasUnclaimedOpens() || !m_candidates.empty()); ++nTry) {
        if (nTry > 0)
            sched_yield();
        ScanForOpeners(false);
    }
    for (auto& [port, watched] : m_ports) {
        if (watched.nUnclaimedOpens == 0)
            continue;
        if (!bForce && qwNow - watched.qwFirstUnclaimedNs < GIVE_UP_NS)
            continue;
        // Opened and gone before we could see by whom.
        for (; watched.nUnclaimedOpens > 0; --watched.nUnclaimedOpens) {
            Publish(port, Vantry::CAPTURE_PORT_OPENED, 0);
            PublishNotice(port, 0, Vantry::NOTICE_USED_UNTRACED, 0);
        }
    }
}

void CTracer::ClaimUntraced(pid_t nPid) {
    // Which of several ports it opened is not known: each hears of it, and
    // none gets an open record.
    for (auto& [port, watched] : m_ports) {
        if (m_ports.size() == 1)
            Publish(port, Vantry::CAPTURE_PORT_OPENED, nPid);
        PublishNamedNotice(port, nPid, Vantry::NOTICE_USED_UNTRACED, 0);
    }
}

void CTracer::ScanForOpeners(bool bEveryHolder) {
    std::set<pid_t> traced;
    for (const auto& [nTid, tracee] : m_tracees)
        traced.insert(tracee.nTgid);
    const auto ports = WatchedPorts();
    // False when it holds no port (yet: its fd appears just after the open).
    // qwNamedNs: fanotify saw it open then; every port it holds is one it
    // just opened (it would be traced already otherwise).
    auto tryProcess = [&](pid_t nPid, std::uint64_t qwNamedNs) {
        if (nPid == m_nSelf || traced.count(nPid))
            return true;
        const auto fds = ProcScanner::PortFds(nPid, ports);
        if (fds.empty()) {
            // Its open may still be returning (the tracer woke in between):
            // seized now, it stops before its first write. Only where
            // whoever watches any port may see it, since its port is unknown.
            const auto owner = ProcScanner::OwnerOf(nPid);
            if (qwNamedNs == 0 || !owner || ProcScanner::IsExiting(nPid) ||
                !std::all_of(ports.begin(), ports.end(), [&](const CPortId& port) {
                    return MayTrace(*owner, {{0, port}});
                }))
                return false;
            Attach(nPid, {}, {}, qwNamedNs);
            traced.insert(nPid);
            return true;
        }
        std::set<CPortId> opened;
        for (const auto& [nFd, port] : fds) {
            auto& watched = m_ports[port];
            if (qwNamedNs != 0)
                opened.insert(port);
            else if (watched.nUnclaimedOpens > 0 && opened.insert(port).second)
                --watched.nUnclaimedOpens;
        }
        Attach(nPid, fds, opened, qwNamedNs);
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
            ClaimUntraced(nPid);
    }
    if (m_fanotify.IsActive() && !bEveryHolder)
        return;
    auto processes = ProcScanner::ListProcesses();
    // The newest processes first: an opener is usually young.
    std::sort(processes.rbegin(), processes.rend());
    for (const pid_t nPid : processes) {
        // Every open is accounted for: the rest of /proc can wait (a
        // thousand stat calls are most of the open-to-traced time).
        if (!bEveryHolder && !HasUnclaimedOpens())
            break;
        tryProcess(nPid, 0);
    }
}
