#include "CTracer.h"

#include "DriverLog.h"
#include "ProcScanner.h"

#include "VantryProtocol.h"

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

constexpr int SYSCALL_STOP = SIGTRAP | 0x80;
// How often unattributed opens and the like are looked at again.
constexpr std::uint64_t TICK_NS = 10'000'000;
// Stops handled in a row before commands and opens get their turn: busy
// tracees would otherwise keep waitpid from ever saying "nothing".
constexpr int MAX_STOPS_IN_A_ROW = 64;

bool IsStopSignal(int nSignal) {
    return nSignal == SIGSTOP || nSignal == SIGTSTP || nSignal == SIGTTIN || nSignal == SIGTTOU;
}

} // namespace

std::uint64_t CTracer::MonotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1'000'000'000u + std::uint64_t(now.tv_nsec);
}

CTracer::CTracer(IEventSink& sink) : m_sink(sink), m_nSelf(getpid()) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGCHLD);
    sigset_t blocked;
    // Unblocked in this thread, the signal would be taken before the
    // signalfd saw it, and the tracer would sleep through a stop.
    if (pthread_sigmask(SIG_BLOCK, nullptr, &blocked) != 0 || !sigismember(&blocked, SIGCHLD))
        throw std::logic_error("SIGCHLD is not blocked");
    m_signals.Reset(signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!m_signals.IsValid())
        throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
}

CTracer::~CTracer() {
    UnwatchAll();
}

std::set<CPortId> CTracer::WatchedPorts() const {
    std::set<CPortId> ports;
    for (const auto& [port, watched] : m_ports)
        ports.insert(port);
    return ports;
}

// --- ports ---------------------------------------------------------------

int CTracer::Watch(const CPortId& port, CScopedFd node, uid_t viewer, std::uint32_t dwHandle) {
    const bool bNew = !m_ports.count(port);
    CWatchedPort& watched = m_ports[port];
    // Its removal may still wait in the inotify queue.
    if (watched.nWatch >= 0 && !HasLinks(watched.node.Get()))
        NodeGone(port);
    const bool bNewNode = watched.nWatch < 0;
    if (bNewNode) {
        const int nWatch = m_inotify.Add(node.Get());
        if (nWatch < 0) {
            if (bNew)
                m_ports.erase(port);
            return -nWatch;
        }
        watched.node = std::move(node);
        watched.nWatch = nWatch;
        m_watchToPort[nWatch] = port;
        m_fanotify.Add(watched.node.Get());
    }
    const bool bNewViewer = std::none_of(watched.viewers.begin(), watched.viewers.end(),
                                         [&](const auto& entry) { return entry.second == viewer; });
    watched.viewers[dwHandle] = viewer;
    if (bNewNode || bNewViewer) {
        // Whoever was left untraced before may be seen now: name them again.
        m_unseen.clear();
        TraceHolders(port);
    }
    return 0;
}

void CTracer::TraceHolders(const CPortId& port) {
    // Processes we already trace for another port get this one's fds too.
    std::map<pid_t, std::shared_ptr<CFdTable>> traced;
    for (auto& [nTid, tracee] : m_tracees)
        traced.emplace(tracee.nTgid, tracee.pFds);
    for (const pid_t nPid : ProcScanner::ListProcesses()) {
        if (nPid == m_nSelf)
            continue;
        const auto fds = ProcScanner::PortFds(nPid, {port});
        if (fds.empty())
            continue;
        const auto it = traced.find(nPid);
        if (it == traced.end()) {
            Attach(nPid, ProcScanner::PortFds(nPid, WatchedPorts()), {});
            continue;
        }
        if (std::none_of(it->second->Ports().begin(), it->second->Ports().end(),
                         [&](const auto& entry) { return entry.second == port; })) {
            for (const auto& [nFd, fdPort] : fds)
                it->second->Set(nFd, fdPort);
            // Not stopped yet: these settings wait with the others.
            if (const auto seizure = m_seizures.find(nPid); seizure != m_seizures.end())
                seizure->second.fds.insert(fds.begin(), fds.end());
            else
                PublishCurrentSettings(nPid, fds);
        }
        // A detach asked for by an earlier attachment may not have happened yet.
        KeepTracing(nPid);
    }
}

void CTracer::KeepTracing(pid_t nPid) {
    for (auto& [nTid, tracee] : m_tracees) {
        if (tracee.nTgid == nPid && tracee.bDetach &&
            MayTrace(tracee.uidOwner, tracee.pFds->Ports())) {
            tracee.bDetach = false;
            --m_nDetaching;
        }
    }
}

bool CTracer::HasLinks(int hNode) {
    struct stat status;
    return fstat(hNode, &status) == 0 && status.st_nlink > 0;
}

void CTracer::NodeGone(const CPortId& port) {
    auto& watched = m_ports[port];
    if (watched.nWatch < 0)
        return;
    m_inotify.Remove(watched.nWatch);
    m_watchToPort.erase(watched.nWatch);
    m_fanotify.Remove(watched.node.Get());
    watched.nWatch = -1;
    watched.node.Reset();
    Log("a watched port's device node is gone; the next attach watches its successor");
}

void CTracer::Unwatch(std::uint32_t dwHandle) {
    for (auto it = m_ports.begin(); it != m_ports.end(); ++it) {
        if (it->second.viewers.erase(dwHandle) == 0)
            continue;
        if (it->second.viewers.empty())
            DropPort(it);
        DetachUnseen();
        return;
    }
}

void CTracer::DropPort(std::map<CPortId, CWatchedPort>::iterator it) {
    const CPortId port = it->first;
    if (it->second.nWatch >= 0) {
        m_inotify.Remove(it->second.nWatch);
        m_watchToPort.erase(it->second.nWatch);
        m_fanotify.Remove(it->second.node.Get());
    }
    m_ports.erase(it);
    for (auto& [nTid, tracee] : m_tracees)
        tracee.pFds->ForgetPort(port);
}

void CTracer::DetachUnseen() {
    for (auto& [nTid, tracee] : m_tracees) {
        if (!MayTrace(tracee.uidOwner, tracee.pFds->Ports()))
            RequestDetach(tracee);
    }
}

bool CTracer::MayTrace(uid_t owner, const std::map<int, CPortId>& fds) const {
    for (const auto& [nFd, port] : fds) {
        const auto it = m_ports.find(port);
        if (it != m_ports.end() && std::any_of(it->second.viewers.begin(), it->second.viewers.end(),
                                               [&](const auto& entry) {
                                                   return entry.second == 0 ||
                                                          entry.second == owner;
                                               }))
            return true;
    }
    return false;
}

void CTracer::UnwatchAll() {
    while (!m_ports.empty())
        DropPort(m_ports.begin());
    DetachUnseen();
    // Children that stopped before their parent's clone event was seen.
    for (const pid_t nTid : m_earlyChildren)
        Request(PTRACE_DETACH, nTid);
    m_earlyChildren.clear();
}

uid_t CTracer::OwnerOf(pid_t nPid) const {
    if (nPid <= 0)
        return EVERY_VIEWER;
    // Seized and not stopped yet: whose it is now is not known.
    if (const auto it = m_seizures.find(nPid); it != m_seizures.end() && !it->second.bOwnerKnown)
        return 0;
    for (const auto& [nTid, tracee] : m_tracees) {
        if (tracee.nTgid == nPid)
            return tracee.uidOwner;
    }
    // Gone from our tracees (its death came first): while it is not reaped,
    // /proc still knows; after that, only root may see it.
    return ProcScanner::OwnerOf(nPid).value_or(0);
}

int CTracer::TimeoutMs() const {
    if (m_refused.empty() && m_candidates.empty() && m_seizures.empty() && !HasUnclaimedOpens() &&
        (!m_fanotify.IsActive() || m_tally.IsSettled()))
        return -1;
    const std::uint64_t qwSince = MonotonicNs() - m_qwLastLookNs;
    return qwSince >= TICK_NS ? 0 : int((TICK_NS - qwSince + 999'999) / 1'000'000);
}

bool CTracer::HasUnclaimedOpens() const {
    for (const auto& [port, watched] : m_ports) {
        if (watched.nUnclaimedOpens > 0)
            return true;
    }
    return false;
}

// --- attaching and detaching ---------------------------------------------

void CTracer::Request(int nRequest, pid_t nTid, int nSignal) {
    // A thread killed meanwhile (ESRCH) is reported by waitpid: not a fault.
    if (ptrace(__ptrace_request(nRequest), nTid, nullptr,
               reinterpret_cast<void*>(std::intptr_t(nSignal))) != 0 &&
        errno != ESRCH)
        Log("ptrace request " + std::to_string(nRequest) + " on " + std::to_string(nTid), errno);
}

void CTracer::RequestDetach(CTracee& tracee) {
    if (!tracee.bDetach) {
        tracee.bDetach = true;
        ++m_nDetaching;
    }
    // The thread being handled is let go when it is resumed; the others are
    // made to stop. A thread already stopped keeps that stop and the extra
    // trap is dropped by the detach.
    if (tracee.nTid != m_nCurrent)
        Request(PTRACE_INTERRUPT, tracee.nTid);
}

void CTracer::Forget(pid_t nTid) {
    const auto it = m_tracees.find(nTid);
    if (it == m_tracees.end())
        return;
    if (it->second.bDetach)
        --m_nDetaching;
    if (it->second.bInSyscall && it->second.eSyscall == ESyscall::Open)
        --m_nInOpen;
    m_tracees.erase(it);
}

void CTracer::Resume(CTracee& tracee, int nSignal, bool bListen) {
    const pid_t nTid = tracee.nTid;
    // A release still pending is looked for at the next stop first.
    if (tracee.bDetach && !tracee.bReleasePending) {
        Request(PTRACE_DETACH, nTid, nSignal);
        Forget(nTid);
        return;
    }
    Request(bListen ? PTRACE_LISTEN : PTRACE_SYSCALL, nTid, bListen ? 0 : nSignal);
}

// --- stops ---------------------------------------------------------------

bool CTracer::OnChildSignal() {
    // SIGCHLD coalesces: one signal may stand for many stops. It is read
    // before waitpid, so a stop after the last waitpid signals again.
    signalfd_siginfo info[8];
    while (read(m_signals.Get(), info, sizeof info) > 0) {
    }
    for (int i = 0; i < MAX_STOPS_IN_A_ROW; ++i) {
        int nStatus;
        const pid_t nPid = waitpid(-1, &nStatus, __WALL | __WNOTHREAD | WNOHANG);
        if (nPid <= 0)
            return true;
        OnWaitStatus(nPid, nStatus);
    }
    return false;
}

void CTracer::OnWaitStatus(pid_t nTid, int nStatus) {
    auto it = m_tracees.find(nTid);
    if (WIFEXITED(nStatus) || WIFSIGNALED(nStatus)) {
        m_earlyChildren.erase(nTid);
        if (it == m_tracees.end())
            return;
        const pid_t nTgid = it->second.nTgid;
        Forget(nTid);
        // Its fds were released before its death was reported.
        DrainInotify(nTgid);
        ResolveOpens(false);
        return;
    }
    if (!WIFSTOPPED(nStatus))
        return;
    if (it == m_tracees.end() && (nStatus >> 16) == PTRACE_EVENT_EXEC) {
        // A thread whose leader we no longer knew ran execve and took its pid.
        unsigned long ulFormer = 0;
        if (ptrace(PTRACE_GETEVENTMSG, nTid, 0, &ulFormer) != 0)
            Log("PTRACE_GETEVENTMSG on " + std::to_string(nTid), errno);
        auto node = m_tracees.extract(pid_t(ulFormer));
        if (!node.empty()) {
            node.key() = nTid;
            node.mapped().nTid = nTid;
            it = m_tracees.insert(std::move(node)).position;
        }
    }
    if (it == m_tracees.end()) {
        m_earlyChildren.insert(nTid);
        return;
    }
    CTracee* pTracee = &it->second;
    m_nCurrent = nTid;
    const int nSignal = WSTOPSIG(nStatus);
    const int nEvent = nStatus >> 16;
    if (pTracee->bSeized) {
        pTracee->bSeized = false;
        ReadOwnerOnceStopped(pTracee->nTgid);
        PublishSettingsOnceStopped(pTracee->nTgid);
    }

    if (nSignal == SYSCALL_STOP) {
        // The records of a stop are handed over once the tracee runs again:
        // the sink's work then overlaps the tracee's instead of adding to it.
        m_bDeferPublish = true;
        OnSyscallStop(*pTracee);
        Resume(*pTracee, 0);
        m_bDeferPublish = false;
        FlushPublishes();
        m_nCurrent = 0;
        return;
    }
    if (pTracee->bReleasePending) {
        pTracee->bReleasePending = false;
        DrainInotify(pTracee->nTgid);
    }
    switch (nEvent) {
    case 0: // signal-delivery-stop: the signal goes on to the tracee as it came
        pTracee->bInSyscall = false;
        Resume(*pTracee, nSignal);
        break;
    case PTRACE_EVENT_STOP:
        pTracee->bInSyscall = false;
        // A group-stop stays a stop (PTRACE_LISTEN) until SIGCONT; anything
        // else is our interrupt or the end of a group-stop.
        Resume(*pTracee, 0, IsStopSignal(nSignal));
        break;
    case PTRACE_EVENT_FORK:
    case PTRACE_EVENT_VFORK:
    case PTRACE_EVENT_CLONE:
        OnClone(*pTracee, nEvent);
        Resume(*pTracee, 0);
        break;
    case PTRACE_EVENT_EXEC:
        pTracee = &OnExec(*pTracee);
        m_nCurrent = pTracee->nTid;
        Resume(*pTracee, 0);
        break;
    default:
        Resume(*pTracee, 0);
        break;
    }
    m_nCurrent = 0;
}
