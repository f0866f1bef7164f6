// What the tracer knows about one traced thread between two of its stops.
#pragma once

#include "CFdTable.h"
#include "SyscallDecoder.h"
#include "TermiosDecoder.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <vector>

struct CTracee {
    pid_t nTid = 0;
    pid_t nTgid = 0;    // the process: what records name
    uid_t uidOwner = 0; // whose traffic its records are (ProcScanner::OwnerOf)
    std::shared_ptr<CFdTable> pFds;

    // The system call the thread is in, as seen at its entry stop.
    bool bInSyscall = false;
    ESyscall eSyscall = ESyscall::None;
    CSyscallEntry entry;
    std::uint64_t qwCloneFlags = 0;
    TermiosDecoder::ESetCommand eSetCommand = TermiosDecoder::ESetCommand::None;
    std::vector<std::uint8_t> termios; // what the set-command handed over, read at entry
    std::uint64_t qwControlValue = 0;  // a control call's value, read at entry

    // A port description may have been released by this thread (close,
    // exec): the kernel finishes the release on the way back to user space,
    // so its inotify close is looked for at the thread's next stop.
    bool bReleasePending = false;
    bool bDetach = false;              // let go at the next stop
    bool bSeized = false;              // seized and not stopped since
    std::uint32_t dwReportedCalls = 0; // bit per Vantry::CALL_* already named in a notice
};
