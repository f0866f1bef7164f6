// Seizing processes: who may be traced, the seize itself, and whose a
// seized process is, told only once it stopped under the tracer; then its
// opens and its settings at the attach.
#include "CSeizer.h"

#include "DriverLog.h"
#include "MonotonicClock.h"
#include "PortSettings.h"
#include "ProcScanner.h"

#include "VantryProtocol.h"

#include <sched.h>
#include <sys/ptrace.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

constexpr long TRACE_OPTIONS = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK |
                               PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXEC;
// How long a seized process's settings wait for all its threads to stop
// (one asleep in the kernel where no signal reaches it may never stop).
constexpr std::uint64_t STOP_WAIT_NS = 100'000'000;

} // namespace

CSeizer::CSeizer(CWatchedPorts& ports, CTracees& tracees, CVisibility& visibility,
                 CPublisher& publisher)
    : m_ports(ports), m_tracees(tracees), m_visibility(visibility), m_publisher(publisher),
      m_nSelf(getpid()) {}

void CSeizer::TraceHolders(const CPortId& port, std::optional<std::uint32_t> foundLateUs) {
    // Processes we already trace for another port get this one's fds too.
    std::map<pid_t, std::shared_ptr<CFdTable>> traced;
    // Inside an open or a dup, a new fd is in /proc before its exit stop
    // tells of it: such a process is left to that stop.
    std::set<pid_t> changing;
    for (auto& [nTid, tracee] : m_tracees.Threads()) {
        traced.emplace(tracee.nTgid, tracee.pFds);
        if (tracee.bInSyscall &&
            (tracee.eSyscall == ESyscall::Open || tracee.eSyscall == ESyscall::Dup))
            changing.insert(tracee.nTgid);
    }
    for (const pid_t nPid : ProcScanner::ListProcesses()) {
        if (nPid == m_nSelf || (foundLateUs && changing.count(nPid)))
            continue;
        // One that a debugger held had the port all along, and was named for
        // it: it is taken back as its debugger lets go, not found late.
        if (foundLateUs && std::any_of(m_refused.begin(), m_refused.end(),
                                       [&](const auto& id) { return id.GetPid() == nPid; }))
            continue;
        const auto fds = ProcScanner::PortFds(nPid, {port});
        if (fds.empty())
            continue;
        const auto it = traced.find(nPid);
        if (it == traced.end()) {
            if (Attach(nPid, ProcScanner::PortFds(nPid, m_ports.WatchedPorts()), {}) && foundLateUs)
                m_seizures[nPid].foundUs[port] = *foundLateUs;
            continue;
        }
        // An fd it received while traced (recvmsg is not decoded) is new to
        // its table; one it took with pidfd_getfd was seen at its exit.
        std::map<int, CPortId> added;
        for (const auto& [nFd, fdPort] : fds) {
            if (!it->second->IsPort(nFd))
                added.emplace(nFd, fdPort);
        }
        if (!added.empty()) {
            const bool bNewPort =
                std::none_of(it->second->Ports().begin(), it->second->Ports().end(),
                             [&](const auto& entry) { return entry.second == port; });
            for (const auto& [nFd, fdPort] : added)
                it->second->Set(nFd, fdPort);
            if (foundLateUs)
                m_publisher.PublishNamedNotice(port, nPid, Vantry::NOTICE_TRACED_LATE,
                                               *foundLateUs);
            // Not stopped yet: these settings wait with the others.
            if (const auto seizure = m_seizures.find(nPid); seizure != m_seizures.end())
                seizure->second.fds.insert(added.begin(), added.end());
            else if (bNewPort)
                PortSettings::PublishCurrentSettings(m_publisher, nPid, added);
        }
        // A detach asked for by an earlier attachment may not have happened yet.
        m_tracees.KeepTracing(nPid);
    }
}

void CSeizer::TellHolders(const CPortId& port, std::uint32_t dwHandle, bool bUnseenToo) {
    std::set<pid_t> traced;
    for (const auto& [nTid, tracee] : m_tracees.Threads())
        traced.insert(tracee.nTgid);
    // Whoever the attachment may not see is named to it instead.
    for (const pid_t nPid : ProcScanner::ListProcesses()) {
        const auto fds = ProcScanner::PortFds(nPid, {port});
        if (nPid == m_nSelf || fds.empty() || m_seizures.count(nPid))
            continue;
        const bool bRefused = std::any_of(m_refused.begin(), m_refused.end(),
                                          [&](const auto& id) { return id.GetPid() == nPid; });
        if (!bRefused && !bUnseenToo && !traced.count(nPid))
            continue;
        if (bRefused)
            m_publisher.PublishNotice(port, nPid, Vantry::NOTICE_PROCESS_NOT_TRACED,
                                      std::uint32_t(nPid), dwHandle);
        else if (const auto settings = PortSettings::ReadFromProcess(nPid, fds.begin()->first))
            m_publisher.PublishSettings(port, nPid, *settings, dwHandle);
    }
}

bool CSeizer::Attach(pid_t nPid, std::map<int, CPortId> fds, std::set<CPortId> opened,
                     std::uint64_t qwOpenedNs) {
    // An opener whose fd is not in its table yet is reported on every port.
    const bool bEarly = fds.empty();
    std::map<int, CPortId> every;
    for (const auto& [port, watched] : m_ports.All())
        every.emplace(-1 - int(every.size()), port);
    const auto& reportOn = bEarly ? every : fds;
    if (bEarly && qwOpenedNs == 0)
        return false;
    // One open, however many fds the opener holds it on by now; reported
    // also when the opener is gone before it can be traced (as whoever
    // /proc says it is then, root once it is reaped).
    const auto publishOpened = [&] {
        for (const CPortId& port : opened)
            m_publisher.Publish(port, Vantry::CAPTURE_PORT_OPENED, nPid);
    };
    const auto identity = CProcessIdentity::Of(nPid);
    // Only a first sieve: a set-user-ID exec may change it before the seize.
    const auto owner = ProcScanner::OwnerOf(nPid);
    if (!identity || !owner) {
        publishOpened();
        if (!opened.empty())
            m_publisher.ReportOnce(nPid, reportOn, Vantry::NOTICE_USED_UNTRACED);
        return false;
    }
    // A debugger holds it: leave it alone until the debugger lets go.
    if (const auto it = std::find(m_refused.begin(), m_refused.end(), *identity);
        it != m_refused.end()) {
        if (ProcScanner::TracerOf(nPid) != 0)
            return false;
        m_refused.erase(it);
    }
    if (!m_visibility.MayTrace(*owner, reportOn)) {
        m_visibility.NameUnseen(*identity, reportOn);
        return false;
    }
    std::shared_ptr<CFdTable> pFds;
    for (auto& [nTid, tracee] : m_tracees.Threads()) {
        if (tracee.nTgid == nPid)
            pFds = tracee.pFds;
    }
    if (!pFds)
        pFds = std::make_shared<CFdTable>();

    // Threads started while we seize are caught by a later pass (or, once
    // their creator is seized, by PTRACE_O_TRACECLONE).
    std::vector<pid_t> seized;
    for (bool bFound = true; bFound;) {
        bFound = false;
        for (const pid_t nTid : ProcScanner::ListThreads(nPid)) {
            if (m_tracees.Threads().count(nTid))
                continue;
            if (ptrace(PTRACE_SEIZE, nTid, 0, TRACE_OPTIONS) != 0) {
                if (errno == EPERM && seized.empty()) {
                    publishOpened();
                    // Named only on the ports it holds, where those are known by now.
                    const auto held =
                        bEarly ? ProcScanner::PortFds(nPid, m_ports.WatchedPorts()) : fds;
                    OnSeizeRefused(*identity, held.empty() ? reportOn : held);
                    return false;
                }
                continue;
            }
            m_tracees.Request(PTRACE_INTERRUPT, nTid);
            CTracee& tracee = m_tracees.Threads()[nTid];
            tracee.nTid = nTid;
            tracee.nTgid = nPid;
            tracee.uidOwner = *owner;
            tracee.pFds = pFds;
            tracee.bSeized = true;
            seized.push_back(nTid);
            bFound = true;
        }
    }
    if (seized.empty()) {
        // Gone since its fds were read.
        publishOpened();
        if (ProcScanner::IsExiting(nPid))
            m_publisher.ReportOnce(nPid, reportOn, Vantry::NOTICE_USED_UNTRACED);
        return false;
    }
    // Until its first stop, whatever names it is for root alone.
    CSeizure& seizure = m_seizures[nPid];
    seizure = {};
    // Seized, an early opener finishes its open (the fd is installed on the
    // way out) and stops before its first write.
    for (int nTry = 0; bEarly && nTry < 10 && fds.empty(); ++nTry) {
        sched_yield();
        fds = ProcScanner::PortFds(nPid, m_ports.WatchedPorts());
    }
    if (fds.empty()) {
        // Let go unstopped: whose it is now, read after the seize, names it.
        m_seizures.erase(nPid);
        for (const pid_t nTid : seized) {
            m_tracees.Threads()[nTid].uidOwner = ProcScanner::OwnerOf(nPid).value_or(0);
            m_tracees.RequestDetach(m_tracees.Threads()[nTid]);
        }
        ClaimUntraced(nPid);
        return false;
    }
    for (const auto& [nFd, port] : fds) {
        pFds->Set(nFd, port);
        if (bEarly)
            opened.insert(port);
    }
    Log("tracing pid " + std::to_string(nPid) + " (uid " + std::to_string(*owner) + ")");

    // It was traced only after its open: say how long after.
    const std::uint64_t qwNow = RealtimeNs();
    for (const CPortId& port : opened) {
        const std::uint64_t qwOpened =
            qwOpenedNs != 0 ? qwOpenedNs : m_ports.Port(port).qwFirstUnclaimedNs;
        seizure.lateUs[port] = std::uint32_t(
            std::min<std::uint64_t>(qwNow > qwOpened ? (qwNow - qwOpened) / 1000 : 0, UINT32_MAX));
    }
    // Once every thread has stopped once and runs on under syscall tracing,
    // a settings change is either in what is read then or traced later.
    seizure.fds = fds;
    seizure.qwDeadlineNs = MonotonicNs() + STOP_WAIT_NS;
    return true;
}

bool CSeizer::ReadOwnerOnceStopped(pid_t nPid) {
    const auto it = m_seizures.find(nPid);
    if (it == m_seizures.end() || it->second.bOwnerKnown)
        return it != m_seizures.end();
    // From the seize on, an exec stops at its event; what /proc says now is
    // the process's until then.
    it->second.bOwnerKnown = true;
    const auto owner = ProcScanner::OwnerOf(nPid);
    const uid_t uidOwner = owner.value_or(0);
    for (auto& [nTid, tracee] : m_tracees.Threads()) {
        if (tracee.nTgid == nPid)
            tracee.uidOwner = uidOwner;
    }
    if (!m_visibility.MayTrace(uidOwner, it->second.fds)) {
        if (const auto identity = CProcessIdentity::Of(nPid); owner && identity)
            m_visibility.NameUnseen(*identity, it->second.fds);
        m_seizures.erase(it);
        for (auto& [nTid, tracee] : m_tracees.Threads()) {
            if (tracee.nTgid == nPid)
                m_tracees.RequestDetach(tracee);
        }
        return false;
    }
    for (const auto& [port, dwLateUs] : it->second.lateUs) {
        m_publisher.Publish(port, Vantry::CAPTURE_PORT_OPENED, nPid);
        m_publisher.PublishNamedNotice(port, nPid, Vantry::NOTICE_TRACED_LATE, dwLateUs);
    }
    for (const auto& [port, dwFoundUs] : it->second.foundUs)
        m_publisher.PublishNamedNotice(port, nPid, Vantry::NOTICE_TRACED_LATE, dwFoundUs);
    return true;
}

void CSeizer::PublishSettingsOnceStopped(pid_t nPid) {
    const auto it = m_seizures.find(nPid);
    if (it == m_seizures.end() || !it->second.bOwnerKnown ||
        std::any_of(m_tracees.Threads().begin(), m_tracees.Threads().end(), [&](const auto& entry) {
            return entry.second.nTgid == nPid && entry.second.bSeized;
        }))
        return;
    PortSettings::PublishCurrentSettings(m_publisher, nPid, it->second.fds);
    m_seizures.erase(it);
}

void CSeizer::PublishOverdueSettings(std::uint64_t qwNowNs) {
    // A thread that never stops (asleep where no signal reaches it) holds
    // its process's settings back only so long; no exec can have passed
    // unseen since the seize, so /proc says whose it is by then.
    std::vector<pid_t> overdue;
    for (const auto& [nPid, seizure] : m_seizures) {
        if (seizure.qwDeadlineNs <= qwNowNs)
            overdue.push_back(nPid);
    }
    for (const pid_t nPid : overdue) {
        if (!ReadOwnerOnceStopped(nPid))
            continue;
        PortSettings::PublishCurrentSettings(m_publisher, nPid, m_seizures[nPid].fds);
        m_seizures.erase(nPid);
    }
}

void CSeizer::OnSeizeRefused(const CProcessIdentity& identity, const std::map<int, CPortId>& fds) {
    // Say only what was seen: a process on its way out refuses as well.
    const pid_t nPid = identity.GetPid();
    const pid_t nTracer = ProcScanner::TracerOf(nPid);
    // A tracee's child, traced from its fork on, whose fork event is still
    // to come: a look at the holders found it first.
    if (nTracer == gettid())
        return;
    if (nTracer > 0) {
        m_refused.push_back(identity);
        m_publisher.ReportOnce(nPid, fds, Vantry::NOTICE_PROCESS_NOT_TRACED);
        Log("pid " + std::to_string(nPid) + " is traced by pid " + std::to_string(nTracer));
    } else if (ProcScanner::IsExiting(nPid)) {
        m_publisher.ReportOnce(nPid, fds, Vantry::NOTICE_USED_UNTRACED);
        Log("pid " + std::to_string(nPid) + " exited before it could be traced");
    } else {
        m_publisher.ReportOnce(nPid, fds, Vantry::NOTICE_USED_UNTRACED);
        Log("cannot trace pid " + std::to_string(nPid), EPERM);
    }
}

void CSeizer::RetryRefused() {
    // A refusal lasts as long as its debugger: try again once it let go.
    const auto refused = m_refused;
    for (const auto& identity : refused) {
        const pid_t nPid = identity.GetPid();
        if (CProcessIdentity::Of(nPid) != identity)
            std::erase(m_refused, identity);
        else if (ProcScanner::TracerOf(nPid) == 0)
            Attach(nPid, ProcScanner::PortFds(nPid, m_ports.WatchedPorts()), {});
    }
}

uid_t CSeizer::OwnerOf(pid_t nPid) const {
    if (nPid <= 0)
        return EVERY_VIEWER;
    // Seized and not stopped yet: whose it is now is not known.
    if (const auto it = m_seizures.find(nPid); it != m_seizures.end() && !it->second.bOwnerKnown)
        return 0;
    for (const auto& [nTid, tracee] : m_tracees.Threads()) {
        if (tracee.nTgid == nPid)
            return tracee.uidOwner;
    }
    // Gone from our tracees (its death came first): while it is not reaped,
    // /proc still knows; after that, only root may see it.
    return ProcScanner::OwnerOf(nPid).value_or(0);
}

void CSeizer::ClaimUntraced(pid_t nPid) {
    // Which of several ports it opened is not known: each hears of it, and
    // none gets an open record.
    for (auto& [port, watched] : m_ports.All()) {
        if (m_ports.All().size() == 1)
            m_publisher.Publish(port, Vantry::CAPTURE_PORT_OPENED, nPid);
        m_publisher.PublishNamedNotice(port, nPid, Vantry::NOTICE_USED_UNTRACED, 0);
    }
}
