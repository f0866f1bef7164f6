// A process named by its pid and its start time, so that a pid recycled by
// the kernel is never mistaken for the daemon that once had it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

class CProcessIdentity {
public:
    CProcessIdentity() = default;
    CProcessIdentity(pid_t nPid, std::uint64_t qwStartTime)
        : m_nPid(nPid), m_qwStartTime(qwStartTime) {}

    // The identity of the process that has this pid now, if there is one.
    static std::optional<CProcessIdentity> Of(pid_t nPid);
    // Parses what ToString wrote; nothing for anything else.
    static std::optional<CProcessIdentity> Parse(const std::string& strText);

    pid_t GetPid() const { return m_nPid; }
    std::string ToString() const;
    // True while this very process exists and has not exited (a zombie has).
    bool IsAlive() const;
    // Sends the signal only while the pid still names this process.
    bool Signal(int nSignal) const;
    // Polls until the process is gone; false when it outlived the timeout.
    bool WaitForExit(int nTimeoutMs) const;
    // SIGTERM, then SIGKILL when the process outlives nGraceMs, and up to
    // nKillWaitMs more for that to end it.
    void Terminate(int nGraceMs, int nKillWaitMs) const;

    bool operator==(const CProcessIdentity&) const = default;

private:
    pid_t m_nPid = 0;
    std::uint64_t m_qwStartTime = 0;
};
