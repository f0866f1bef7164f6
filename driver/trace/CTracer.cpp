#include "CTracer.h"

#include "DriverLog.h"
#include "MonotonicClock.h"

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
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

CTracer::CTracer(IEventSink& sink)
    : m_publisher(sink, [this](pid_t nPid) { return m_seizer.OwnerOf(nPid); }),
      m_visibility(m_ports, m_publisher), m_tracees(m_ports, m_visibility),
      m_seizer(m_ports, m_tracees, m_visibility, m_publisher),
      m_opens(m_ports, m_tracees, m_seizer, m_visibility, m_publisher),
      m_holders(m_ports, m_seizer),
      m_syscalls(sink, m_ports, m_tracees, m_opens, m_holders, m_publisher) {
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

// --- ports ---------------------------------------------------------------

int CTracer::Watch(const CPortId& port, CScopedFd node, uid_t viewer, std::uint32_t dwHandle) {
    const bool bWatched = m_ports.IsWatched(port);
    bool bWider = false;
    const int nError = m_ports.Watch(port, std::move(node), viewer, dwHandle, bWider);
    if (nError == 0 && bWider) {
        // Whoever was left untraced before may be seen now: name them again.
        m_visibility.ForgetUnseen();
        m_seizer.TraceHolders(port);
        m_holders.Looked(port, MonotonicNs());
    }
    // The port's other attachments have heard of its holders already.
    if (nError == 0 && bWatched)
        m_seizer.TellHolders(port, dwHandle, !bWider);
    return nError;
}

void CTracer::Unwatch(std::uint32_t dwHandle) {
    std::optional<CPortId> dropped;
    if (!m_ports.Unwatch(dwHandle, dropped))
        return;
    if (dropped)
        m_tracees.ForgetPort(*dropped);
    m_tracees.DetachUnseen();
}

void CTracer::UnwatchAll() {
    for (const CPortId& port : m_ports.WatchedPorts()) {
        m_ports.Drop(port);
        m_tracees.ForgetPort(port);
    }
    m_tracees.DetachUnseen();
    // Children that stopped before their parent's clone event was seen.
    m_tracees.DetachEarlyChildren();
}

int CTracer::TimeoutMs() const {
    const std::uint64_t qwNow = MonotonicNs();
    const int nHolders = m_holders.TimeoutMs(qwNow);
    if (m_seizer.IsIdle() && m_opens.IsSettled())
        return nHolders;
    const std::uint64_t qwSince = qwNow - m_qwLastLookNs;
    const int nTick = qwSince >= TICK_NS ? 0 : int((TICK_NS - qwSince + 999'999) / 1'000'000);
    return nHolders < 0 ? nTick : std::min(nTick, nHolders);
}

void CTracer::OnInotify() {
    m_qwLastLookNs = MonotonicNs();
    m_opens.Look(m_qwLastLookNs);
    m_seizer.RetryRefused();
    m_seizer.PublishOverdueSettings(m_qwLastLookNs);
    m_holders.LookIfDue(m_qwLastLookNs);
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
    auto& tracees = m_tracees.Threads();
    auto it = tracees.find(nTid);
    if (WIFEXITED(nStatus) || WIFSIGNALED(nStatus)) {
        m_tracees.ForgetEarlyChild(nTid);
        if (it == tracees.end())
            return;
        const pid_t nTgid = it->second.nTgid;
        m_tracees.Forget(nTid);
        // Its fds were released before its death was reported.
        m_opens.DrainInotify(nTgid);
        m_opens.ResolveOpens(false);
        return;
    }
    if (!WIFSTOPPED(nStatus))
        return;
    if (it == tracees.end() && (nStatus >> 16) == PTRACE_EVENT_EXEC) {
        // A thread whose leader we no longer knew ran execve and took its pid.
        unsigned long ulFormer = 0;
        if (ptrace(PTRACE_GETEVENTMSG, nTid, 0, &ulFormer) != 0)
            Log("PTRACE_GETEVENTMSG on " + std::to_string(nTid), errno);
        auto node = tracees.extract(pid_t(ulFormer));
        if (!node.empty()) {
            node.key() = nTid;
            node.mapped().nTid = nTid;
            it = tracees.insert(std::move(node)).position;
        }
    }
    if (it == tracees.end()) {
        m_tracees.AddEarlyChild(nTid);
        return;
    }
    CTracee* pTracee = &it->second;
    m_tracees.SetCurrent(nTid);
    const int nSignal = WSTOPSIG(nStatus);
    const int nEvent = nStatus >> 16;
    if (pTracee->bSeized) {
        pTracee->bSeized = false;
        m_seizer.ReadOwnerOnceStopped(pTracee->nTgid);
        m_seizer.PublishSettingsOnceStopped(pTracee->nTgid);
    }

    if (nSignal == SYSCALL_STOP) {
        // The records of a stop are handed over once the tracee runs again:
        // the sink's work then overlaps the tracee's instead of adding to it.
        m_publisher.DeferPublishes();
        m_syscalls.OnSyscallStop(*pTracee);
        m_tracees.Resume(*pTracee, 0);
        m_publisher.FlushPublishes();
        m_tracees.SetCurrent(0);
        return;
    }
    if (pTracee->bReleasePending) {
        pTracee->bReleasePending = false;
        m_opens.DrainInotify(pTracee->nTgid);
    }
    switch (nEvent) {
    case 0: // signal-delivery-stop: the signal goes on to the tracee as it came
        pTracee->bInSyscall = false;
        m_tracees.Resume(*pTracee, nSignal);
        break;
    case PTRACE_EVENT_STOP:
        pTracee->bInSyscall = false;
        // A group-stop stays a stop (PTRACE_LISTEN) until SIGCONT; anything
        // else is our interrupt or the end of a group-stop.
        m_tracees.Resume(*pTracee, 0, IsStopSignal(nSignal));
        break;
    case PTRACE_EVENT_FORK:
    case PTRACE_EVENT_VFORK:
    case PTRACE_EVENT_CLONE:
        m_tracees.OnClone(*pTracee, nEvent);
        m_tracees.Resume(*pTracee, 0);
        break;
    case PTRACE_EVENT_EXEC:
        pTracee = &m_tracees.OnExec(*pTracee);
        m_tracees.SetCurrent(pTracee->nTid);
        m_tracees.Resume(*pTracee, 0);
        break;
    default:
        m_tracees.Resume(*pTracee, 0);
        break;
    }
    m_tracees.SetCurrent(0);
}
