#include "CTracer.h"

#include "CTraceeMemory.h"
#include "PortSettings.h"
#include "ProcScanner.h"

#include "VantryProtocol.h"

#include <sched.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

constexpr long TRACE_OPTIONS = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK |
                               PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXEC;
constexpr int SYSCALL_STOP = SIGTRAP | 0x80;

// An open whose opener is not traced yet is looked for again on the
// watcher's ticks; while a traced thread is inside an open the open is
// probably its own and waits for its exit stop, but not for ever (it may be
// blocked opening something else).
constexpr std::uint64_t DEFER_NS = 20'000'000;
constexpr std::uint64_t GIVE_UP_NS = 200'000'000;

std::uint64_t NowNs() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return std::uint64_t(now.tv_sec) * 1'000'000'000u + std::uint64_t(now.tv_nsec);
}

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

void CTracer::Publish(dev_t port, std::int8_t nType, pid_t nPid,
                      std::span<const std::uint8_t> payload) {
    CPortEvent event;
    event.nType = nType;
    event.dwProcessId = std::uint32_t(nPid > 0 ? nPid : 0);
    event.qwTimeNs = NowNs();
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
    for (std::size_t i = 0; i < m_nDeferred; ++i) {
        auto& deferred = m_deferred[i];
        deferred.event.payload = deferred.payload;
        m_sink.Publish(deferred.port, deferred.event);
    }
    m_nDeferred = 0;
}

void CTracer::PublishSettings(dev_t port, pid_t nPid, const CLineSettings& settings) {
    if (settings.dwBaudRate) {
        std::uint8_t baud[4];
        Vantry::PutU32(baud, *settings.dwBaudRate);
        Publish(port, Vantry::CAPTURE_BAUD_RATE, nPid, baud);
    }
    const std::uint8_t lineControl[3] = {settings.byStopBits, settings.byParity,
                                         settings.byWordLength};
    Publish(port, Vantry::CAPTURE_LINE_CONTROL, nPid, lineControl);
}

void CTracer::PublishCurrentSettings(pid_t nPid, const std::map<int, dev_t>& fds) {
    std::set<dev_t> done;
    for (const auto& [nFd, port] : fds) {
        if (!done.insert(port).second)
            continue;
        if (const auto settings = PortSettings::ReadFromProcess(nPid, nFd))
            PublishSettings(port, nPid, *settings);
    }
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
            Attach(nPid, {});
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

void CTracer::PublishNotice(dev_t port, pid_t nPid, std::uint32_t dwCode, std::uint32_t dwValue) {
    std::uint8_t payload[Vantry::NOTICE_PAYLOAD_SIZE];
    Vantry::PutU32(payload, dwCode);
    Vantry::PutU32(payload + 4, dwValue);
    Publish(port, Vantry::CAPTURE_DRIVER_NOTICE, nPid, payload);
}

void CTracer::ReportRefused(pid_t nPid, const std::map<int, dev_t>& fds) {
    std::set<dev_t> done;
    for (const auto& [nFd, port] : fds) {
        if (done.insert(port).second)
            PublishNotice(port, nPid, Vantry::NOTICE_PROCESS_NOT_TRACED, std::uint32_t(nPid));
    }
}

bool CTracer::Attach(pid_t nPid, const std::set<dev_t>& opened) {
    const auto identity = CProcessIdentity::Of(nPid);
    if (!identity || std::find(m_refused.begin(), m_refused.end(), *identity) != m_refused.end())
        return false;
    const auto fds = ProcScanner::PortFds(nPid, WatchedPorts());
    if (fds.empty())
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

void CTracer::OnSyscallStop(CTracee& tracee) {
    // An exit stop of a call that does not interest us needs no look at all:
    // this is the common case, and it saves a request per system call.
    if (tracee.bInSyscall && tracee.eSyscall == ESyscall::None) {
        tracee.bInSyscall = false;
        return;
    }
    __ptrace_syscall_info info{};
    if (ptrace(PTRACE_GET_SYSCALL_INFO, tracee.nTid, sizeof info, &info) <= 0)
        return;
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY) {
        if (tracee.bReleasePending) {
            tracee.bReleasePending = false;
            DrainInotify(tracee.nTgid);
        }
        if (tracee.bInSyscall && tracee.eSyscall == ESyscall::Open)
            --m_nInOpen;
        tracee.bInSyscall = true;
        tracee.eSyscall = ESyscall::None;
        if (info.arch != SyscallDecoder::NativeArch())
            return; // 32-bit calls are not decoded
        tracee.entry.qwNumber = info.entry.nr;
        std::copy(std::begin(info.entry.args), std::end(info.entry.args),
                  tracee.entry.args.begin());
        OnEntry(tracee);
    } else if (info.op == PTRACE_SYSCALL_INFO_EXIT) {
        if (!tracee.bInSyscall)
            return; // the first stop of a new child: the rest of fork
        const ESyscall eSyscall = tracee.eSyscall;
        if (eSyscall == ESyscall::Open)
            --m_nInOpen;
        OnExit(tracee, info.exit.rval, info.exit.is_error);
        tracee.bInSyscall = false;
        tracee.eSyscall = ESyscall::None;
        // A release is finished on the way back to user space, after this
        // stop; any trap is taken only after it (and ends the interrupt).
        if (tracee.bReleasePending)
            ptrace(PTRACE_INTERRUPT, tracee.nTid, 0, 0);
    }
}

void CTracer::OnEntry(CTracee& tracee) {
    tracee.eSyscall = SyscallDecoder::Classify(tracee.entry, *tracee.pFds);
    switch (tracee.eSyscall) {
    case ESyscall::SetTermios: {
        // Set-commands are read at entry: what the kernel was handed.
        const bool bTermios2 = TermiosDecoder::ClassifyIoctl(std::uint32_t(tracee.entry.args[1])) ==
                               TermiosDecoder::ESetCommand::Termios2;
        const std::size_t nSize =
            bTermios2 ? TermiosDecoder::Termios2Size() : TermiosDecoder::TermiosSize();
        tracee.termios.clear();
        if (CTraceeMemory(tracee.nTid)
                .Read(CTraceeAddress(tracee.entry.args[2]), nSize, tracee.termios) != nSize)
            tracee.eSyscall = ESyscall::None;
        break;
    }
    case ESyscall::Open:
        ++m_nInOpen;
        break;
    case ESyscall::Clone:
        tracee.qwCloneFlags = SyscallDecoder::CloneFlags(tracee.entry);
        if (SyscallDecoder::IsClone3(tracee.entry)) {
            // struct clone_args begins with its 64-bit flags.
            std::vector<std::uint8_t> flags;
            if (CTraceeMemory(tracee.nTid).Read(CTraceeAddress(tracee.entry.args[0]), 8, flags) ==
                8)
                std::copy_n(flags.data(), 8, reinterpret_cast<std::uint8_t*>(&tracee.qwCloneFlags));
        }
        break;
    default:
        break;
    }
}

void CTracer::OnExit(CTracee& tracee, std::int64_t nResult, bool bError) {
    const auto& args = tracee.entry.args;
    const int nFd = SyscallDecoder::FdArgument(args[0]);
    switch (tracee.eSyscall) {
    case ESyscall::Read:
    case ESyscall::ReadVector:
    case ESyscall::Write:
    case ESyscall::WriteVector:
        if (!bError && nResult > 0)
            OnDataExit(tracee, nResult,
                       tracee.eSyscall == ESyscall::Read || tracee.eSyscall == ESyscall::ReadVector,
                       tracee.eSyscall == ESyscall::ReadVector ||
                           tracee.eSyscall == ESyscall::WriteVector);
        break;
    case ESyscall::SetTermios:
        if (!bError && nResult == 0)
            OnTermiosExit(tracee);
        break;
    case ESyscall::Open:
        OnOpenExit(tracee, bError ? -1 : nResult);
        break;
    case ESyscall::Dup:
        if (!bError && nResult >= 0) {
            const bool bReplacedPort = tracee.pFds->IsPort(int(nResult));
            tracee.pFds->Duplicate(nFd, int(nResult));
            if (bReplacedPort && !tracee.pFds->IsPort(int(nResult)))
                PortFdRemoved(tracee);
        }
        break;
    case ESyscall::Close:
        // Linux releases the fd even when close reports an error.
        tracee.pFds->Close(nFd);
        PortFdRemoved(tracee);
        break;
    case ESyscall::CloseRange:
        if (!bError && SyscallDecoder::CloseRangeCloses(tracee.entry)) {
            if (SyscallDecoder::CloseRangeUnshares(tracee.entry))
                tracee.pFds = std::make_shared<CFdTable>(*tracee.pFds);
            const std::size_t nBefore = tracee.pFds->Ports().size();
            tracee.pFds->CloseRange(std::uint32_t(args[0]), std::uint32_t(args[1]));
            if (tracee.pFds->Ports().size() != nBefore)
                PortFdRemoved(tracee);
        }
        break;
    case ESyscall::Unshare:
        if (!bError)
            tracee.pFds = std::make_shared<CFdTable>(*tracee.pFds);
        break;
    default:
        break;
    }
}

void CTracer::OnDataExit(CTracee& tracee, std::int64_t nResult, bool bRead, bool bVector) {
    const auto& args = tracee.entry.args;
    const auto port = tracee.pFds->PortOf(SyscallDecoder::FdArgument(args[0]));
    if (!port)
        return;
    m_buffer.clear();
    const CTraceeMemory memory(tracee.nTid);
    const std::size_t nWanted = std::size_t(nResult);
    const std::size_t nGot =
        bVector ? memory.ReadVectors(CTraceeAddress(args[1]), args[2], nWanted, m_buffer)
                : memory.Read(CTraceeAddress(args[1]), nWanted, m_buffer);
    if (nGot > 0)
        Publish(*port, bRead ? Vantry::CAPTURE_DATA_READ : Vantry::CAPTURE_DATA_WRITTEN,
                tracee.nTgid, m_buffer);
    if (nGot < nWanted) {
        // The buffer changed under us (unmapped by another thread): say so
        // rather than invent bytes.
        PublishNotice(*port, tracee.nTgid, Vantry::NOTICE_BYTES_UNREADABLE,
                      std::uint32_t(nWanted - nGot));
    }
}

void CTracer::OnTermiosExit(CTracee& tracee) {
    const int nFd = SyscallDecoder::FdArgument(tracee.entry.args[0]);
    const auto port = tracee.pFds->PortOf(nFd);
    if (!port)
        return;
    const bool bTermios2 = tracee.termios.size() == TermiosDecoder::Termios2Size();
    CLineSettings settings = TermiosDecoder::Decode(tracee.termios, bTermios2);
    if (!settings.dwBaudRate) {
        // BOTHER through the old request keeps the speed the port had: ask it.
        if (const auto current = PortSettings::ReadFromProcess(tracee.nTgid, nFd))
            settings.dwBaudRate = current->dwBaudRate;
    }
    PublishSettings(*port, tracee.nTgid, settings);
}

void CTracer::OnOpenExit(CTracee& tracee, std::int64_t nResult) {
    if (nResult >= 0) {
        const int nFd = int(nResult);
        const auto device = ProcScanner::CharDeviceOf(tracee.nTid, nFd);
        if (device && m_ports.count(*device)) {
            tracee.pFds->Set(nFd, *device);
            // The open's inotify event is queued before the call returns.
            if (!DrainInotify(tracee.nTgid, *device)) {
                auto& watched = m_ports[*device];
                if (watched.nUnclaimedOpens > 0)
                    --watched.nUnclaimedOpens;
                Publish(*device, Vantry::CAPTURE_PORT_OPENED, tracee.nTgid);
            }
        } else {
            tracee.pFds->Close(nFd);
        }
    }
    ResolveOpens(false);
}

void CTracer::PortFdRemoved(CTracee& tracee) {
    // The release (and its inotify close) happens on the thread's way back
    // to user space; an interrupt makes it stop right after that.
    tracee.bReleasePending = true;
    if (tracee.pFds->IsEmpty()) {
        for (auto& [nTid, other] : m_tracees) {
            if (other.pFds == tracee.pFds)
                RequestDetach(other);
        }
    }
}

void CTracer::OnClone(CTracee& parent, int nEvent) {
    unsigned long ulChild = 0;
    if (ptrace(PTRACE_GETEVENTMSG, parent.nTid, 0, &ulChild) != 0 || ulChild == 0)
        return;
    const pid_t nChild = pid_t(ulChild);
    std::uint64_t qwFlags = parent.qwCloneFlags;
    if (parent.eSyscall != ESyscall::Clone)
        qwFlags = nEvent == PTRACE_EVENT_CLONE ? (CLONE_THREAD | CLONE_FILES) : 0;

    CTracee& child = m_tracees[nChild];
    child.nTid = nChild;
    child.nTgid = (qwFlags & CLONE_THREAD) ? parent.nTgid : nChild;
    child.pFds = (qwFlags & CLONE_FILES) ? parent.pFds : std::make_shared<CFdTable>(*parent.pFds);
    // The child starts in the middle of fork: its first exit stop is not ours.
    child.bInSyscall = false;
    if (child.pFds->IsEmpty() || parent.bDetach)
        RequestDetach(child);
    if (m_earlyChildren.erase(nChild))
        Resume(child, 0);
}

CTracee& CTracer::OnExec(CTracee& tracee) {
    const pid_t nTgid = tracee.nTgid;
    unsigned long ulFormer = 0;
    ptrace(PTRACE_GETEVENTMSG, tracee.nTid, 0, &ulFormer);
    const pid_t nFormer = pid_t(ulFormer);
    if (nFormer != 0 && nFormer != tracee.nTid) {
        // A non-leader thread ran execve and has taken the leader's pid; the
        // old leader is gone without a death report.
        auto node = m_tracees.extract(nFormer);
        if (!node.empty()) {
            Forget(tracee.nTid);
            node.key() = nTgid;
            node.mapped().nTid = nTgid;
            m_tracees.insert(std::move(node));
        }
    }
    CTracee& leader = m_tracees[nTgid];
    leader.nTid = nTgid;
    // Every other thread of the process died in the exec.
    std::vector<pid_t> others;
    for (const auto& [nTid, other] : m_tracees) {
        if (other.nTgid == nTgid && nTid != nTgid)
            others.push_back(nTid);
    }
    for (const pid_t nTid : others)
        Forget(nTid);

    // exec unshares the fd table and closes the close-on-exec fds: ask the
    // kernel what is left rather than replaying the flags.
    leader.pFds = std::make_shared<CFdTable>();
    for (const auto& [nFd, port] : ProcScanner::PortFds(nTgid, WatchedPorts()))
        leader.pFds->Set(nFd, port);
    // The close-on-exec fds are released after the execve exit stop.
    leader.bReleasePending = true;
    if (leader.pFds->IsEmpty())
        RequestDetach(leader);
    return leader;
}

// --- opens and closes ----------------------------------------------------

bool CTracer::DrainInotify(pid_t nCause, std::optional<dev_t> claimPort) {
    bool bClaimed = false;
    for (const auto& event : m_inotify.Drain()) {
        if (event.bLost) {
            // Opens and closes are gone for good: say so, and trace whoever
            // holds a port now.
            for (const auto& [port, watched] : m_ports)
                PublishNotice(port, 0, Vantry::NOTICE_EVENTS_LOST, 0);
            ScanForOpeners(true);
            continue;
        }
        const auto itPort = m_watchToPort.find(event.nWatch);
        if (itPort == m_watchToPort.end())
            continue;
        const dev_t port = itPort->second;
        auto& watched = m_ports[port];
        if (event.bOpened) {
            if (claimPort == port && !bClaimed) {
                bClaimed = true;
                Publish(port, Vantry::CAPTURE_PORT_OPENED, nCause);
            } else if (watched.nUnclaimedOpens++ == 0) {
                watched.qwFirstUnclaimedNs = NowNs();
            }
            continue;
        }
        // An open still unattributed happened before this close.
        if (watched.nUnclaimedOpens > 0)
            ResolveOpens(true);
        Publish(port, Vantry::CAPTURE_PORT_CLOSED, nCause != 0 ? nCause : GuessReleaser());
    }
    return bClaimed;
}

pid_t CTracer::GuessReleaser() const {
    for (const auto& [nTid, tracee] : m_tracees) {
        if (tracee.bReleasePending)
            return tracee.nTgid;
        if (tracee.bInSyscall &&
            (tracee.eSyscall == ESyscall::Close || tracee.eSyscall == ESyscall::Exit ||
             tracee.eSyscall == ESyscall::Exec))
            return tracee.nTgid;
    }
    return 0;
}

void CTracer::OnInotify() {
    DrainInotify(0);
    ResolveOpens(false);
}

void CTracer::ResolveOpens(bool bForce) {
    if (!HasUnclaimedOpens())
        return;
    const std::uint64_t qwNow = NowNs();
    std::uint64_t qwOldest = qwNow;
    for (const auto& [port, watched] : m_ports) {
        if (watched.nUnclaimedOpens > 0)
            qwOldest = std::min(qwOldest, watched.qwFirstUnclaimedNs);
    }
    if (!bForce && m_nInOpen > 0 && qwNow - qwOldest < DEFER_NS)
        return;
    // The opener's fd appears in /proc only just after its inotify event:
    // look again a few times before leaving it to the next tick.
    for (int nTry = 0; nTry < 3 && HasUnclaimedOpens(); ++nTry) {
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
        for (; watched.nUnclaimedOpens > 0; --watched.nUnclaimedOpens)
            Publish(port, Vantry::CAPTURE_PORT_OPENED, 0);
    }
}

void CTracer::ScanForOpeners(bool bEveryHolder) {
    std::set<pid_t> traced;
    for (const auto& [nTid, tracee] : m_tracees)
        traced.insert(tracee.nTgid);
    const auto ports = WatchedPorts();
    auto processes = ProcScanner::ListProcesses();
    // The newest processes first: an opener is usually young.
    std::sort(processes.rbegin(), processes.rend());
    for (const pid_t nPid : processes) {
        // Every open is accounted for: the rest of /proc can wait (a
        // thousand stat calls are most of the open-to-traced time).
        if (!bEveryHolder && !HasUnclaimedOpens())
            break;
        if (nPid == m_nSelf || nPid == m_nDoorbell || traced.count(nPid))
            continue;
        const auto fds = ProcScanner::PortFds(nPid, ports);
        if (fds.empty())
            continue;
        std::set<dev_t> opened;
        for (const auto& [nFd, port] : fds) {
            auto& watched = m_ports[port];
            if (watched.nUnclaimedOpens > 0 && opened.insert(port).second)
                --watched.nUnclaimedOpens;
        }
        Attach(nPid, opened);
    }
}
