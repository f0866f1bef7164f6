// Starts a service image as a daemon that outlives the program: its own
// session, no controlling terminal, standard input and output on /dev/null,
// standard error appended to a log. The start counts only once the daemon has
// written "READY\n" to the descriptor named by VANTRY_READY_FD.
//
// Whoever makes the daemon log can make it log a lot, so the log is bounded:
// the daemon cannot grow any file past LOG_LIMIT (its writes beyond fail
// with EFBIG; it must ignore SIGXFSZ), and a log that has reached
// LOG_ROTATE_SIZE is moved to "<log>.1" when the next daemon starts.
#pragma once

#include "CProcessIdentity.h"

#include <cstdint>
#include <string>

struct CDaemonStart {
    int nError = 0; // 0, or an errno value saying why the daemon is not running
    CProcessIdentity identity;
};

class CDaemonLauncher {
public:
    static constexpr const char* READY_FD_VARIABLE = "VANTRY_READY_FD";
    static constexpr std::uint64_t LOG_LIMIT = 8 * 1024 * 1024;
    static constexpr std::uint64_t LOG_ROTATE_SIZE = LOG_LIMIT / 2;

    explicit CDaemonLauncher(int nReadyTimeoutMs) : m_nReadyTimeoutMs(nReadyTimeoutMs) {}

    // On failure nothing of the daemon is left running. Root refuses, with
    // EPERM, an image that another user could change (see RootOnlyPath.h).
    CDaemonStart Start(const std::string& strImage, const std::string& strLogPath) const;

private:
    int m_nReadyTimeoutMs;
};
