// A process as the kernel knows it across pid reuse: the pid together with
// its start time in clock ticks since boot (/proc/PID/stat, field 22).
#pragma once

#include <sys/types.h>

#include <compare>
#include <cstdint>
#include <optional>

class CProcessIdentity {
public:
    CProcessIdentity() = default;
    CProcessIdentity(pid_t nPid, std::uint64_t qwStartTime)
        : m_nPid(nPid), m_qwStartTime(qwStartTime) {}

    // Empty when the process is gone (or its stat cannot be parsed).
    static std::optional<CProcessIdentity> Of(pid_t nPid);

    pid_t Pid() const { return m_nPid; }
    auto operator<=>(const CProcessIdentity&) const = default;

private:
    pid_t m_nPid = 0;
    std::uint64_t m_qwStartTime = 0;
};
