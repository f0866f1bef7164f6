// A process the demo started and must not leave behind: it gets SIGTERM
// should the demo die first, and Stop ends and reaps it.
#pragma once

#include "CSignalFd.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct CChildOptions {
    std::vector<std::pair<std::string, std::string>> environment;
    int hKeepFd = -1;         // a descriptor the child inherits
    std::string strErrorFile; // standard error goes there when set
    // Its own process group, out of reach of a terminal's Ctrl+C: it ends
    // when the demo says so, after the command that may still need it.
    bool bOwnGroup = false;
};

class CChildProcess {
public:
    CChildProcess() = default;
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    ~CChildProcess() { Stop(0); }

    // False when fork fails; a program that cannot be run exits with 127.
    bool Start(const std::vector<std::string>& args, const CSignalFd& signals,
               const CChildOptions& options = {});
    bool IsRunning() const { return m_nPid > 0 && !m_nStatus; }
    pid_t GetPid() const { return m_nPid; }
    // The exit status, 128 + the signal for one that killed it.
    std::optional<int> GetStatus() const { return m_nStatus; }

    // Takes a wait status the demo reaped, when it is this child's.
    bool Reaped(pid_t nPid, int nWaitStatus);
    bool Signal(int nSignal) const;
    // SIGTERM, SIGKILL after nGraceMs, and the child reaped either way.
    void Stop(int nGraceMs);

private:
    pid_t m_nPid = 0;
    std::optional<int> m_nStatus;
};
