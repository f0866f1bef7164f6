#include "SyscallDecoder.h"

#include "PortControl.h"
#include "TermiosDecoder.h"
#include "VantryProtocol.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/close_range.h>
#include <sched.h>
#include <sys/syscall.h>

#include <algorithm>

namespace SyscallDecoder {

std::uint32_t NativeArch() {
#if defined(__x86_64__)
    return AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    return AUDIT_ARCH_AARCH64;
#else
#error "the tracer decodes x86-64 and AArch64 system calls only"
#endif
}

std::optional<CUndecodedCall> Undecoded(const CSyscallEntry& entry) {
    switch (entry.qwNumber) {
    case SYS_sendfile:
        return CUndecodedCall{Vantry::CALL_SENDFILE, {0, 1}};
    case SYS_splice:
        return CUndecodedCall{Vantry::CALL_SPLICE, {0, 2}};
    case SYS_tee:
        return CUndecodedCall{Vantry::CALL_SPLICE, {0, 1}};
    case SYS_vmsplice:
        return CUndecodedCall{Vantry::CALL_SPLICE, {0}};
    case SYS_copy_file_range:
        return CUndecodedCall{Vantry::CALL_COPY_FILE_RANGE, {0, 2}};
    case SYS_io_uring_enter:
        return CUndecodedCall{Vantry::CALL_IO_URING, {}};
    // Its fds are inside the requests, in the caller's memory.
    case SYS_io_submit:
        return CUndecodedCall{Vantry::CALL_IO_SUBMIT, {}};
    default:
        return std::nullopt;
    }
}

ESyscall Classify(const CSyscallEntry& entry, const CFdTable& fds) {
    const auto& args = entry.args;
    if (const auto undecoded = Undecoded(entry)) {
        const auto& fdArgs = undecoded->fdArguments;
        const bool bPort = fdArgs.empty() ? !fds.IsEmpty()
                                          : std::any_of(fdArgs.begin(), fdArgs.end(), [&](auto i) {
                                                return fds.IsPort(FdArgument(args[i]));
                                            });
        return bPort ? ESyscall::Undecoded : ESyscall::None;
    }
    const bool bPortFd = fds.IsPort(FdArgument(args[0]));
    switch (entry.qwNumber) {
    case SYS_read:
    case SYS_pread64:
        return bPortFd ? ESyscall::Read : ESyscall::None;
    case SYS_readv:
    case SYS_preadv:
    case SYS_preadv2:
        return bPortFd ? ESyscall::ReadVector : ESyscall::None;
    case SYS_write:
    case SYS_pwrite64:
        return bPortFd ? ESyscall::Write : ESyscall::None;
    case SYS_writev:
    case SYS_pwritev:
    case SYS_pwritev2:
        return bPortFd ? ESyscall::WriteVector : ESyscall::None;
    case SYS_ioctl:
        if (!bPortFd)
            return ESyscall::None;
        if (TermiosDecoder::ClassifyIoctl(std::uint32_t(args[1])) !=
            TermiosDecoder::ESetCommand::None)
            return ESyscall::SetTermios;
        return PortControl::IsControl(std::uint32_t(args[1])) ? ESyscall::PortControl
                                                              : ESyscall::None;
#ifdef SYS_open
    case SYS_open:
    case SYS_creat:
#endif
    case SYS_openat:
    case SYS_openat2:
    case SYS_pidfd_getfd:
        return ESyscall::Open;
    case SYS_dup:
        return bPortFd ? ESyscall::Dup : ESyscall::None;
#ifdef SYS_dup2
    case SYS_dup2:
#endif
    case SYS_dup3:
        // Duplicating onto a port fd closes that one.
        return bPortFd || fds.IsPort(FdArgument(args[1])) ? ESyscall::Dup : ESyscall::None;
    case SYS_fcntl:
        return bPortFd && (args[1] == F_DUPFD || args[1] == F_DUPFD_CLOEXEC) ? ESyscall::Dup
                                                                             : ESyscall::None;
    case SYS_close:
        return bPortFd ? ESyscall::Close : ESyscall::None;
    case SYS_close_range:
        return fds.IsEmpty() ? ESyscall::None : ESyscall::CloseRange;
    case SYS_clone:
    case SYS_clone3:
#ifdef SYS_fork
    case SYS_fork:
    case SYS_vfork:
#endif
        return ESyscall::Clone;
    case SYS_unshare:
        return (args[0] & CLONE_FILES) ? ESyscall::Unshare : ESyscall::None;
    case SYS_execve:
    case SYS_execveat:
        return ESyscall::Exec;
    case SYS_exit:
    case SYS_exit_group:
        return ESyscall::Exit;
    case SYS_sendmsg:
    case SYS_sendmmsg:
        return fds.IsEmpty() ? ESyscall::None : ESyscall::SendMessage;
    default:
        return ESyscall::None;
    }
}

bool IsSendMany(const CSyscallEntry& entry) {
    return entry.qwNumber == SYS_sendmmsg;
}

bool IsClone3(const CSyscallEntry& entry) {
    return entry.qwNumber == SYS_clone3;
}

std::uint64_t CloneFlags(const CSyscallEntry& entry) {
    // fork and vfork share nothing of the fd table.
    return entry.qwNumber == SYS_clone ? entry.args[0] : 0;
}

bool CloseRangeCloses(const CSyscallEntry& entry) {
    return !(entry.args[2] & CLOSE_RANGE_CLOEXEC);
}

bool CloseRangeUnshares(const CSyscallEntry& entry) {
    return entry.args[2] & CLOSE_RANGE_UNSHARE;
}

} // namespace SyscallDecoder
