#include "CTracer.h"

#include "ProcScanner.h"

#include "VantryProtocol.h"

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

constexpr long TRACE_OPTIONS = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK |
                               PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXEC;
constexpr int SYSCALL_STOP = SIGTRAP | 0x80;

bool IsStopSignal(int nSignal) {
    return nSignal == SIGSTOP || nSignal == SIGTSTP || nSignal == SIGTTIN || nSignal == SIGTTOU;
}

} // namespace

CTracer::CTracer(IEventSink& sink, pid_t nDoorbell)
    : m_sink(sink), m_nDoorbell(nDoorbell), m_nSelf(getpid()) {}

CTracer::~CTracer() {
    UnwatchAll();
}

std::set<dev_t> CTracer::WatchedPorts() const {
    std::set<dev_t> ports;
    for (const auto& [port, watched] : m_ports)
        ports.insert(port);
    return ports;
}

// --- ports ---------------------------------------------------------------

int CTracer::Watch(dev_t port, const std::string& strPath) {
    if (m_ports.count(port))
        return 0;
    const int nWatch = m_inotify.Add(strPath);
    if (nWatch < 0)
        return -nWatch;
    m_ports[port] = {strPath, nWatch, 0, 0};
    m_watchToPort[nWatch] = port;

    // Processes we already trace for another port get this one's fds too.
    std::map<pid_t, std::shared_ptr<CFdTable>> traced;
    for (auto& [nTid, tracee] : m_tracees)
        traced.emplace(tracee.nTgid, tracee.pFds);
    for (const pid_t nPid : ProcScanner::ListProcesses()) {
        if (nPid == m_nSelf || nPid == m_nDoorbell)
            continue;
        const auto fds = ProcScanner::PortFds(nPid, {port});
        if (fds.empty())
            continue;
        const auto it = traced.find(nPid);
        if (it == traced.end()) {
            Attach(nPid, ProcScanner::PortFds(nPid, WatchedPorts()), {});
            continue;
        }
        for (const auto& [nFd, fdPort] : fds)
            it->second->Set(nFd, fdPort);
        PublishCurrentSettings(nPid, fds);
    }
    return 0;
}

void CTracer::Unwatch(dev_t port) {
    const auto it = m_ports.find(port);
    if (it == m_ports.end())
        return;
    m_inotify.Remove(it->second.nWatch);
    m_watchToPort.erase(it->second.nWatch);
    m_ports.erase(it);
    for (auto& [nTid, tracee] : m_tracees)
        tracee.pFds->ForgetPort(port);
    for (auto& [nTid, tracee] : m_tracees) {
        if (tracee.pFds->IsEmpty())
            RequestDetach(tracee);
    }
    WaitForDetaches();
}

void CTracer::UnwatchAll() {
    while (!m_ports.empty())
        Unwatch(m_ports.begin()->first);
    // Children that stopped before their parent's clone event was seen.
    for (const pid_t nTid : m_earlyChildren)
        ptrace(PTRACE_DETACH, nTid, 0, 0);
    m_earlyChildren.clear();
}

bool CTracer::HasUnclaimedOpens() const {
    for (const auto& [port, watched] : m_ports) {
        if (watched.nUnclaimedOpens > 0)
            return true;
    }
    return false;
}

// --- attaching and detaching ---------------------------------------------

bool CTracer::Attach(pid_t nPid, const std::map<int, dev_t>& fds, const std::set<dev_t>& opened) {
    if (fds.empty())
        return false;
    const auto identity = CProcessIdentity::Of(nPid);
    if (!identity || std::find(m_refused.begin(), m_refused.end(), *identity) != m_refused.end())
        return false;

    std::shared_ptr<CFdTable> pFds;
    for (auto& [nTid, tracee] : m_tracees) {
        if (tracee.nTgid == nPid)
            pFds = tracee.pFds;
    }
    if (!pFds)
        pFds = std::make_shared<CFdTable>();
    for (const auto& [nFd, port] : fds)
        pFds->Set(nFd, port);

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
                    m_refused.push_back(*identity);
                    ReportRefused(nPid, fds);
                    return false;
                }
                continue;
            }
            ptrace(PTRACE_INTERRUPT, nTid, 0, 0);
            CTracee& tracee = m_tracees[nTid];
            tracee.nTid = nTid;
            tracee.nTgid = nPid;
            tracee.pFds = pFds;
            seized.push_back(nTid);
            bFound = true;
        }
    }
    if (seized.empty())
        return false;

    for (const auto& [nFd, port] : fds) {
        if (opened.count(port))
            Publish(port, Vantry::CAPTURE_PORT_OPENED, nPid);
    }
    // Once every thread has stopped once and runs on under syscall tracing,
    // a settings change is either in what we read now or traced later.
    for (const pid_t nTid : seized) {
        int nStatus;
        pid_t nDone;
        while ((nDone = waitpid(nTid, &nStatus, __WALL)) < 0 && errno == EINTR) {
        }
        if (nDone == nTid)
            OnWaitStatus(nTid, nStatus);
    }
    PublishCurrentSettings(nPid, fds);
    return true;
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
        ptrace(PTRACE_INTERRUPT, tracee.nTid, 0, 0);
}

void CTracer::WaitForDetaches() {
    while (m_nDetaching > 0) {
        int nStatus;
        const pid_t nPid = waitpid(-1, &nStatus, __WALL | __WNOTHREAD | WUNTRACED);
        if (nPid < 0) {
            if (errno == ECHILD)
                break;
            continue;
        }
        if (nPid == m_nDoorbell)
            m_bDoorbellRang = true;
        else
            OnWaitStatus(nPid, nStatus);
    }
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
        ptrace(PTRACE_DETACH, nTid, 0, nSignal);
        Forget(nTid);
        return;
    }
    if (bListen)
        ptrace(PTRACE_LISTEN, nTid, 0, 0);
    else
        ptrace(PTRACE_SYSCALL, nTid, 0, nSignal);
}

// --- stops ---------------------------------------------------------------

bool CTracer::WaitOnce() {
    if (!m_bDoorbellRang) {
        int nStatus;
        const pid_t nPid = waitpid(-1, &nStatus, __WALL | __WNOTHREAD | WUNTRACED);
        if (nPid < 0) {
            if (errno == ECHILD)
                usleep(1000); // cannot happen while the doorbell lives
        } else if (nPid == m_nDoorbell) {
            m_bDoorbellRang = WIFSTOPPED(nStatus);
        } else {
            OnWaitStatus(nPid, nStatus);
        }
    }
    return std::exchange(m_bDoorbellRang, false);
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
        ptrace(PTRACE_GETEVENTMSG, nTid, 0, &ulFormer);
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
    // Attaching from inside a handler dispatches the new threads' first
    // stops: keep the outer handler's notion of the current thread.
    const pid_t nOuter = std::exchange(m_nCurrent, nTid);
    const int nSignal = WSTOPSIG(nStatus);
    const int nEvent = nStatus >> 16;

    if (nSignal == SYSCALL_STOP) {
        // The records of a stop are handed over once the tracee runs again:
        // the sink's work then overlaps the tracee's instead of adding to it.
        const bool bOuterDefers = std::exchange(m_bDeferPublish, true);
        OnSyscallStop(*pTracee);
        Resume(*pTracee, 0);
        m_bDeferPublish = bOuterDefers;
        if (!bOuterDefers)
            FlushPublishes();
        m_nCurrent = nOuter;
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
    m_nCurrent = nOuter;
}
