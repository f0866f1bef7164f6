// Starts a service image as a daemon that outlives the program: its own
// session, no controlling terminal, standard input and output on /dev/null,
// standard error in a log. The start counts only once the daemon has written
// "READY\n" to the descriptor named by VANTRY_READY_FD.
#pragma once

#include "CProcessIdentity.h"

#include <string>

struct CDaemonStart {
    int nError = 0; // 0, or an errno value saying why the daemon is not running
    CProcessIdentity identity;
};

class CDaemonLauncher {
public:
    static constexpr const char* READY_FD_VARIABLE = "VANTRY_READY_FD";

    explicit CDaemonLauncher(int nReadyTimeoutMs) : m_nReadyTimeoutMs(nReadyTimeoutMs) {}

    // On failure nothing of the daemon is left running. Root refuses, with
    // EPERM, an image that another user could change (see RootOnlyPath.h).
    CDaemonStart Start(const std::string& strImage, const std::string& strLogPath) const;

private:
    int m_nReadyTimeoutMs;
};
