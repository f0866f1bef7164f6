// One connection to the driver device and the one request it may have in
// flight. A request gives up at once when its stop or close descriptor
// becomes readable; the answer it then leaves unread makes the connection
// unusable (Broken), since the next answer read would be that one.
#pragma once

#include "CScopedFd.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

class CVantryConnection {
public:
    // 0 or an errno value: ENOENT or ECONNREFUSED when no driver listens.
    int Connect(const std::string& strPath);

    // Sends code, capacity (output.size()) and input; receives the answer's
    // output into `output`, its length in nOutput. Returns the driver's
    // status, or ECANCELED (hStopFd became readable), EBADF (hCloseFd did),
    // EPIPE (the driver went away), EPROTO (a malformed answer). -1: none.
    int Transact(std::uint32_t dwCode, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::size_t& nOutput, int hStopFd, int hCloseFd);
    // After a request that its stop event cut short: waits again for that
    // request's answer, into an output as large as the first. EPIPE when no
    // answer is owed.
    int AwaitOwedAnswer(std::span<std::uint8_t> output, std::size_t& nOutput, int hStopFd,
                        int hCloseFd);

    bool IsBroken() const { return m_bBroken || !m_hSocket.IsValid(); }
    bool IsAnswerOwed() const { return m_bAnswerOwed && m_hSocket.IsValid(); }

private:
    int Await(std::span<std::uint8_t> output, std::size_t& nOutput, int hStopFd, int hCloseFd);
    int Receive(std::span<std::uint8_t> output, std::size_t& nOutput);

    CScopedFd m_hSocket;
    bool m_bBroken = false;
    bool m_bAnswerOwed = false;
};
