// Which system calls matter to the capture, judged at syscall entry from the
// number and arguments alone, so that every other call costs only the stop.
#pragma once

#include "CFdTable.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

enum class ESyscall {
    None,        // nothing to do at exit
    Read,        // read, pread64: fd, buffer
    ReadVector,  // readv, preadv, preadv2: fd, iovec array, count
    Write,       // write, pwrite64
    WriteVector, // writev, pwritev, pwritev2
    SetTermios,  // ioctl TCSETS* or TCSETS2* on a port fd
    PortControl, // ioctl of modem lines, break, drain, flush or flow on a port fd
    Open,        // may create a port fd: open, openat, openat2, creat, pidfd_getfd
    Dup,         // dup, dup2, dup3, fcntl F_DUPFD(_CLOEXEC) touching a port fd
    Close,       // close of a port fd
    CloseRange,  // close_range while the table holds a port fd
    Clone,       // clone, clone3, fork, vfork: the flags decide on the fd table
    Unshare,     // unshare(CLONE_FILES)
    Exec,        // execve, execveat
    Exit,        // exit, exit_group
    SendMessage, // sendmsg, sendmmsg while the table holds a port fd: may pass it on
    Undecoded,   // moves port data in a way not decoded (sendfile, splice, io_uring...)
};

struct CSyscallEntry {
    std::uint64_t qwNumber = 0;
    std::array<std::uint64_t, 6> args{};
};

namespace SyscallDecoder {

// The audit architecture of the system calls we decode (this build's own).
std::uint32_t NativeArch();

ESyscall Classify(const CSyscallEntry& entry, const CFdTable& fds);

// The fd argument of a call as the kernel reads it (an unsigned int).
inline int FdArgument(std::uint64_t qwArgument) {
    return int(std::uint32_t(qwArgument));
}

// Flags of clone/fork/vfork known from the arguments alone; clone3 keeps
// them in memory, at the start of the struct clone_args its first argument
// points to.
bool IsClone3(const CSyscallEntry& entry);
std::uint64_t CloneFlags(const CSyscallEntry& entry);

// A call that moves data without our seeing the bytes: its Vantry::CALL_*
// code and which arguments are fds (none: any fd of the table, io_uring).
struct CUndecodedCall {
    std::uint32_t dwCall = 0;
    std::vector<std::size_t> fdArguments;
};
std::optional<CUndecodedCall> Undecoded(const CSyscallEntry& entry);

// sendmmsg rather than sendmsg: an array of struct mmsghdr, as many sent
// as it returns.
bool IsSendMany(const CSyscallEntry& entry);

// close_range: its flags and whether it closes (rather than marks) fds.
bool CloseRangeCloses(const CSyscallEntry& entry);
bool CloseRangeUnshares(const CSyscallEntry& entry);

} // namespace SyscallDecoder
