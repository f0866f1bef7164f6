// CTracer's seizing of processes: who may be traced, the seize itself, and
// whose a seized process is, told only once it stopped under the tracer.
#include "CTracer.h"

#include "DriverLog.h"
#include "ProcScanner.h"

#include "VantryProtocol.h"

#include <sched.h>
#include <sys/ptrace.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

constexpr long TRACE_OPTIONS = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK |
                               PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXEC;
// How long a seized process's settings wait for all its threads to stop
// (one asleep in the kernel where no signal reaches it may never stop).
constexpr std::uint64_t STOP_WAIT_NS = 100'000'000;
// Bounds what the processes of other users can make the tracer remember.
constexpr std::size_t MAX_UNSEEN = 4096;

} // namespace

bool CTracer::Attach(pid_t nPid, std::map<int, CPortId> fds, std::set<CPortId> opened,
                     std::uint64_t qwOpenedNs) {
    // An opener whose fd is not in its table yet is reported on every port.
    const bool bEarly = fds.empty();
    std::map<int, CPortId> every;
    for (const auto& [port, watched] : m_ports)
        every.emplace(-1 - int(every.size()), port);
    const auto& reportOn = bEarly ? every : fds;
    if (bEarly && qwOpenedNs == 0)
        return false;
    // One open, however many fds the opener holds it on by now; reported
    // also when the opener is gone before it can be traced (as whoever
    // /proc says it is then, root once it is reaped).
    const auto publishOpened = [&] {
        for (const CPortId& port : opened)
            Publish(port, Vantry::CAPTURE_PORT_OPENED, nPid);
    };
    const auto identity = CProcessIdentity::Of(nPid);
    // Only a first sieve: a set-user-ID exec may change it before the seize.
    const auto owner = ProcScanner::OwnerOf(nPid);
    if (!identity || !owner) {
        publishOpened();
        if (!opened.empty())
            ReportOnce(nPid, reportOn, Vantry::NOTICE_USED_UNTRACED);
        return false;
    }
    // A debugger holds it: leave it alone until the debugger lets go.
    if (const auto it = std::find(m_refused.begin(), m_refused.end(), *identity);
        it != m_refused.end()) {
        if (ProcScanner::TracerOf(nPid) != 0)
            return false;
        m_refused.erase(it);
    }
    if (!MayTrace(*owner, reportOn)) {
        NameUnseen(*identity, reportOn);
        return false;
    }
    std::shared_ptr<CFdTable> pFds;
    for (auto& [nTid, tracee] : m_tracees) {
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
            if (m_tracees.count(nTid))
                continue;
            if (ptrace(PTRACE_SEIZE, nTid, 0, TRACE_OPTIONS) != 0) {
                if (errno == EPERM && seized.empty()) {
                    publishOpened();
                    OnSeizeRefused(*identity, reportOn);
                    return false;
                }
                continue;
            }
            Request(PTRACE_INTERRUPT, nTid);
            CTracee& tracee = m_tracees[nTid];
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
            ReportOnce(nPid, reportOn, Vantry::NOTICE_USED_UNTRACED);
        return false;
    }
    // Until its first stop, whatever names it is for root alone.
    CSeizure& seizure = m_seizures[nPid];
    seizure = {};
    // Seized, an early opener finishes its open (the fd is installed on the
    // way out) and stops before its first write.
    for (int nTry = 0; bEarly && nTry < 10 && fds.empty(); ++nTry) {
        sched_yield();
        fds = ProcScanner::PortFds(nPid, WatchedPorts());
    }
    if (fds.empty()) {
        // Let go unstopped: whose it is now, read after the seize, names it.
        m_seizures.erase(nPid);
        for (const pid_t nTid : seized) {
            m_tracees[nTid].uidOwner = ProcScanner::OwnerOf(nPid).value_or(0);
            RequestDetach(m_tracees[nTid]);
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
            qwOpenedNs != 0 ? qwOpenedNs : m_ports[port].qwFirstUnclaimedNs;
        seizure.lateUs[port] = std::uint32_t(
            std::min<std::uint64_t>(qwNow > qwOpened ? (qwNow - qwOpened) / 1000 : 0, UINT32_MAX));
    }
    // Once every thread has stopped once and runs on under syscall tracing,
    // a settings change is either in what is read then or traced later.
    seizure.fds = fds;
    seizure.qwDeadlineNs = MonotonicNs() + STOP_WAIT_NS;
    return true;
}

bool CTracer::ReadOwnerOnceStopped(pid_t nPid) {
    const auto it = m_seizures.find(nPid);
    if (it == m_seizures.end() || it->second.bOwnerKnown)
        return it != m_seizures.end();
    // From the seize on, an exec stops at its event; what /proc says now is
    // the process's until then.
    it->second.bOwnerKnown = true;
    const auto owner = ProcScanner::OwnerOf(nPid);
    const uid_t uidOwner = owner.value_or(0);
    for (auto& [nTid, tracee] : m_tracees) {
        if (tracee.nTgid == nPid)
            tracee.uidOwner = uidOwner;
    }
    if (!MayTrace(uidOwner, it->second.fds)) {
        if (const auto identity = CProcessIdentity::Of(nPid); owner && identity)
            NameUnseen(*identity, it->second.fds);
        m_seizures.erase(it);
        for (auto& [nTid, tracee] : m_tracees) {
            if (tracee.nTgid == nPid)
                RequestDetach(tracee);
        }
        return false;
    }
    for (const auto& [port, dwLateUs] : it->second.lateUs) {
        Publish(port, Vantry::CAPTURE_PORT_OPENED, nPid);
        PublishNamedNotice(port, nPid, Vantry::NOTICE_TRACED_LATE, dwLateUs);
    }
    return true;
}

void CTracer::NameUnseen(const CProcessIdentity& identity, const std::map<int, CPortId>& fds) {
    // Another user's process: named once, never traced.
    if (std::find(m_unseen.begin(), m_unseen.end(), identity) != m_unseen.end())
        return;
    // The oldest makes room: at worst it is named once more.
    if (m_unseen.size() >= MAX_UNSEEN)
        m_unseen.erase(m_unseen.begin());
    m_unseen.push_back(identity);
    ReportOnce(identity.GetPid(), fds, Vantry::NOTICE_PROCESS_OF_OTHER_USER);
}

void CTracer::PublishSettingsOnceStopped(pid_t nPid) {
    const auto it = m_seizures.find(nPid);
    if (it == m_seizures.end() || !it->second.bOwnerKnown ||
        std::any_of(m_tracees.begin(), m_tracees.end(), [&](const auto& entry) {
            return entry.second.nTgid == nPid && entry.second.bSeized;
        }))
        return;
    PublishCurrentSettings(nPid, it->second.fds);
    m_seizures.erase(it);
}

void CTracer::PublishOverdueSettings() {
    // A thread that never stops (asleep where no signal reaches it) holds
    // its process's settings back only so long; no exec can have passed
    // unseen since the seize, so /proc says whose it is by then.
    std::vector<pid_t> overdue;
    for (const auto& [nPid, seizure] : m_seizures) {
        if (seizure.qwDeadlineNs <= m_qwLastLookNs)
            overdue.push_back(nPid);
    }
    for (const pid_t nPid : overdue) {
        if (!ReadOwnerOnceStopped(nPid))
            continue;
        PublishCurrentSettings(nPid, m_seizures[nPid].fds);
        m_seizures.erase(nPid);
    }
}

void CTracer::OnSeizeRefused(const CProcessIdentity& identity, const std::map<int, CPortId>& fds) {
    // Say only what was seen: a process on its way out refuses as well.
    const pid_t nPid = identity.GetPid();
    const pid_t nTracer = ProcScanner::TracerOf(nPid);
    if (nTracer > 0) {
        m_refused.push_back(identity);
        ReportOnce(nPid, fds, Vantry::NOTICE_PROCESS_NOT_TRACED);
        Log("pid " + std::to_string(nPid) + " is traced by pid " + std::to_string(nTracer));
    } else if (ProcScanner::IsExiting(nPid)) {
        ReportOnce(nPid, fds, Vantry::NOTICE_USED_UNTRACED);
        Log("pid " + std::to_string(nPid) + " exited before it could be traced");
    } else {
        ReportOnce(nPid, fds, Vantry::NOTICE_USED_UNTRACED);
        Log("cannot trace pid " + std::to_string(nPid), EPERM);
    }
}

void CTracer::RetryRefused() {
    // A refusal lasts as long as its debugger: try again once it let go.
    const auto refused = m_refused;
    for (const auto& identity : refused) {
        const pid_t nPid = identity.GetPid();
        if (CProcessIdentity::Of(nPid) != identity)
            std::erase(m_refused, identity);
        else if (ProcScanner::TracerOf(nPid) == 0)
            Attach(nPid, ProcScanner::PortFds(nPid, WatchedPorts()), {});
    }
}
