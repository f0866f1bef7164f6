// System-call stops: what each call on a port fd means, decoded from its
// entry and exit, and the records that follow.
#include "CSyscallStops.h"

#include "CTraceeMemory.h"
#include "DriverLog.h"
#include "PortSettings.h"
#include "ProcScanner.h"

#include "VantryProtocol.h"

#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <string>

CSyscallStops::CSyscallStops(IEventSink& sink, CWatchedPorts& ports, CTracees& tracees,
                             COpenTracker& opens, CHolderLook& holders, CPublisher& publisher)
    : m_sink(sink), m_ports(ports), m_tracees(tracees), m_opens(opens), m_holders(holders),
      m_publisher(publisher) {}

void CSyscallStops::OnSyscallStop(CTracee& tracee) {
    // An exit stop of a call that does not interest us needs no look at all:
    // this is the common case, and it saves a request per system call.
    if (tracee.bInSyscall && tracee.eSyscall == ESyscall::None) {
        tracee.bInSyscall = false;
        return;
    }
    __ptrace_syscall_info info{};
    if (ptrace(PTRACE_GET_SYSCALL_INFO, tracee.nTid, sizeof info, &info) <= 0) {
        if (errno != ESRCH)
            Log("PTRACE_GET_SYSCALL_INFO on " + std::to_string(tracee.nTid), errno);
        return;
    }
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY) {
        if (tracee.bReleasePending) {
            tracee.bReleasePending = false;
            m_opens.DrainInotify(tracee.nTgid);
        }
        if (tracee.bInSyscall && tracee.eSyscall == ESyscall::Open)
            m_tracees.OpenLeft();
        tracee.bInSyscall = true;
        tracee.eSyscall = ESyscall::None;
        if (info.arch != SyscallDecoder::NativeArch()) {
            // 32-bit calls are not decoded: say so once.
            ReportUndecoded(tracee, Vantry::CALL_32_BIT, tracee.pFds->Ports());
            return;
        }
        tracee.entry.qwNumber = info.entry.nr;
        std::copy(std::begin(info.entry.args), std::end(info.entry.args),
                  tracee.entry.args.begin());
        OnEntry(tracee);
    } else if (info.op == PTRACE_SYSCALL_INFO_EXIT) {
        if (!tracee.bInSyscall)
            return; // the first stop of a new child: the rest of fork
        const ESyscall eSyscall = tracee.eSyscall;
        if (eSyscall == ESyscall::Open)
            m_tracees.OpenLeft();
        OnExit(tracee, info.exit.rval, info.exit.is_error);
        tracee.bInSyscall = false;
        tracee.eSyscall = ESyscall::None;
        // A release is finished on the way back to user space, after this
        // stop; any trap is taken only after it (and ends the interrupt).
        if (tracee.bReleasePending)
            m_tracees.Request(PTRACE_INTERRUPT, tracee.nTid);
    }
}

void CSyscallStops::OnEntry(CTracee& tracee) {
    tracee.eSyscall = SyscallDecoder::Classify(tracee.entry, *tracee.pFds);
    switch (tracee.eSyscall) {
    case ESyscall::SetTermios: {
        // Set-commands are read at entry: what the kernel was handed.
        tracee.eSetCommand = TermiosDecoder::ClassifyIoctl(std::uint32_t(tracee.entry.args[1]));
        const std::size_t nSize = TermiosDecoder::SizeOf(tracee.eSetCommand);
        tracee.termios.clear();
        // One we cannot read fails in the kernel too, and is recorded so.
        CTraceeMemory(tracee.nTid)
            .Read(CTraceeAddress(tracee.entry.args[2]), nSize, tracee.termios);
        break;
    }
    case ESyscall::PortControl: {
        tracee.qwControlValue = tracee.entry.args[2];
        if (PortControl::PointsToValue(std::uint32_t(tracee.entry.args[1]))) {
            std::vector<std::uint8_t> value;
            tracee.qwControlValue = 0;
            if (CTraceeMemory(tracee.nTid).Read(CTraceeAddress(tracee.entry.args[2]), 4, value) ==
                4)
                tracee.qwControlValue = Vantry::GetU32(value.data());
        }
        break;
    }
    case ESyscall::Open:
        m_tracees.OpenEntered();
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

void CSyscallStops::OnExit(CTracee& tracee, std::int64_t nResult, bool bError) {
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
    case ESyscall::PortControl:
        OnControlExit(tracee, bError ? int(-nResult) : 0);
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
    case ESyscall::SendMessage:
        if (!bError && PassedPortFd(tracee, nResult))
            m_holders.OnFdPassed();
        break;
    case ESyscall::Unshare:
        if (!bError)
            tracee.pFds = std::make_shared<CFdTable>(*tracee.pFds);
        break;
    case ESyscall::Undecoded:
        if (!bError) {
            const auto undecoded = SyscallDecoder::Undecoded(tracee.entry);
            std::map<int, CPortId> ports = tracee.pFds->Ports();
            if (!undecoded->fdArguments.empty()) {
                ports.clear();
                for (const std::size_t i : undecoded->fdArguments) {
                    const int nArgFd = SyscallDecoder::FdArgument(args[i]);
                    if (const auto port = tracee.pFds->PortOf(nArgFd))
                        ports[nArgFd] = *port;
                }
            }
            ReportUndecoded(tracee, undecoded->dwCall, ports);
        }
        break;
    default:
        break;
    }
}

void CSyscallStops::ReportUndecoded(CTracee& tracee, std::uint32_t dwCall,
                                    const std::map<int, CPortId>& fds) {
    const std::uint32_t dwBit = 1u << dwCall;
    if (fds.empty() || (tracee.dwReportedCalls & dwBit))
        return;
    tracee.dwReportedCalls |= dwBit;
    std::set<CPortId> done;
    for (const auto& [nFd, port] : fds) {
        if (done.insert(port).second)
            m_publisher.PublishNotice(port, tracee.nTgid, Vantry::NOTICE_CALL_NOT_DECODED, dwCall);
    }
}

void CSyscallStops::OnDataExit(CTracee& tracee, std::int64_t nResult, bool bRead, bool bVector) {
    const auto& args = tracee.entry.args;
    const auto port = tracee.pFds->PortOf(SyscallDecoder::FdArgument(args[0]));
    if (!port)
        return;
    std::vector<std::uint8_t>& buffer = m_publisher.Buffer();
    buffer.clear();
    const CTraceeMemory memory(tracee.nTid);
    const std::size_t nMoved = std::size_t(nResult);
    // Never copy more than the queues can take: a write of a gigabyte must
    // not make the driver that big. Each record of the split adds its head,
    // and the notice of what was cut and a close or two should still fit.
    constexpr std::size_t RESERVE = 256;
    const std::size_t nRoom = m_sink.Room(*port) - std::min(m_sink.Room(*port), RESERVE);
    const std::size_t nFits = nRoom / (Vantry::MAX_RECORD_SIZE)*Vantry::MAX_RECORD_PAYLOAD +
                              (nRoom % Vantry::MAX_RECORD_SIZE > Vantry::RECORD_DATA_OFFSET
                                   ? nRoom % Vantry::MAX_RECORD_SIZE - Vantry::RECORD_DATA_OFFSET
                                   : 0);
    const std::size_t nWanted = std::min(nMoved, nFits);
    const std::size_t nGot =
        bVector ? memory.ReadVectors(CTraceeAddress(args[1]), args[2], nWanted, buffer)
                : memory.Read(CTraceeAddress(args[1]), nWanted, buffer);
    if (nGot > 0)
        m_publisher.Publish(*port, bRead ? Vantry::CAPTURE_DATA_READ : Vantry::CAPTURE_DATA_WRITTEN,
                            tracee.nTgid, buffer);
    if (nGot < nWanted) {
        // The buffer changed under us (unmapped by another thread): say so
        // rather than invent bytes.
        m_publisher.PublishNotice(*port, tracee.nTgid, Vantry::NOTICE_BYTES_UNREADABLE,
                                  std::uint32_t(nWanted - nGot));
    }
    if (nWanted < nMoved)
        m_publisher.PublishNotice(
            *port, tracee.nTgid, Vantry::NOTICE_BYTES_NOT_CAPTURED,
            std::uint32_t(std::min<std::size_t>(nMoved - nWanted, UINT32_MAX)));
}

void CSyscallStops::OnControlExit(CTracee& tracee, int nError) {
    const int nFd = SyscallDecoder::FdArgument(tracee.entry.args[0]);
    const auto port = tracee.pFds->PortOf(nFd);
    const std::uint32_t dwRequest = std::uint32_t(tracee.entry.args[1]);
    if (!port)
        return;
    // A failed call changed nothing: it is said, and no settings are.
    if (nError != 0) {
        if (const auto record = PortControl::Failed(dwRequest, nError))
            m_publisher.PublishControl(*port, tracee.nTgid, *record);
    } else if (tracee.eSyscall == ESyscall::SetTermios)
        OnTermiosExit(tracee, *port, nFd);
    else if (const auto record = PortControl::Decode(dwRequest, tracee.qwControlValue))
        m_publisher.PublishControl(*port, tracee.nTgid, *record);
}

void CSyscallStops::OnTermiosExit(CTracee& tracee, const CPortId& port, int nFd) {
    if (tracee.termios.size() != TermiosDecoder::SizeOf(tracee.eSetCommand))
        return; // unmapped by another thread after the kernel read it
    CLineSettings settings = TermiosDecoder::Decode(tracee.termios, tracee.eSetCommand);
    if (!settings.dwBaudRate) {
        // BOTHER through the old request keeps the speed the port had: ask it.
        if (const auto current = PortSettings::ReadFromProcess(tracee.nTgid, nFd))
            settings.dwBaudRate = current->dwBaudRate;
    }
    m_publisher.PublishSettings(port, tracee.nTgid, settings);
}

void CSyscallStops::OnOpenExit(CTracee& tracee, std::int64_t nResult) {
    if (nResult >= 0) {
        const int nFd = int(nResult);
        const auto device = ProcScanner::CharDeviceOf(tracee.nTid, nFd);
        if (device && m_ports.IsWatched(*device)) {
            tracee.pFds->Set(nFd, *device);
            // A port fd taken from another process opened nothing. An
            // open's inotify event is queued before the call returns.
            if (tracee.entry.qwNumber != SYS_pidfd_getfd &&
                !m_opens.DrainInotify(tracee.nTgid, *device)) {
                auto& watched = m_ports.Port(*device);
                if (watched.nUnclaimedOpens > 0)
                    --watched.nUnclaimedOpens;
                m_publisher.Publish(*device, Vantry::CAPTURE_PORT_OPENED, tracee.nTgid);
            }
        } else {
            tracee.pFds->Close(nFd);
        }
    }
    m_opens.ResolveOpens(false);
}

void CSyscallStops::PortFdRemoved(CTracee& tracee) {
    // The release (and its inotify close) happens on the thread's way back
    // to user space; an interrupt makes it stop right after that.
    tracee.bReleasePending = true;
    if (tracee.pFds->IsEmpty()) {
        // Its table was read from /proc as it was seized: an fd it made
        // before its first stop (a shell's dup2 of `> port` onto its
        // stdout) is only there.
        for (const auto& [nFd, port] : ProcScanner::PortFds(tracee.nTgid, m_ports.WatchedPorts()))
            tracee.pFds->Set(nFd, port);
    }
    if (tracee.pFds->IsEmpty()) {
        for (auto& [nTid, other] : m_tracees.Threads()) {
            if (other.pFds == tracee.pFds)
                m_tracees.RequestDetach(other);
        }
    }
}

bool CSyscallStops::PassedPortFd(const CTracee& tracee, std::int64_t nSent) const {
    const CTraceeMemory memory(tracee.nTid);
    const CTraceeAddress messages(tracee.entry.args[1]);
    if (!SyscallDecoder::IsSendMany(tracee.entry))
        nSent = 1;
    // The fds are numbers in the sender's table, as it is at this stop.
    for (std::int64_t i = 0; i < nSent; ++i) {
        for (const int nFd : memory.PassedFds(messages + std::uint64_t(i) * sizeof(mmsghdr))) {
            if (tracee.pFds->IsPort(nFd))
                return true;
        }
    }
    return false;
}
