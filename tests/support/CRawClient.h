// A connection to the driver device that sends whatever request a test
// gives it, malformed ones included, and gives up after a timeout instead of
// hanging the test. The framing is the program's own (CVantryConnection).
#pragma once

#include "CVantryConnection.h"
#include "VantryProtocol.h"

#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct CAnswerBytes {
    int nStatus = -1; // or ECANCELED: no answer within the timeout
    Bytes output;
};

inline sockaddr_un UnixAddress(const std::string& strPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strPath.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

class CRawClient {
public:
    explicit CRawClient(const std::string& strPath,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5))
        : m_timeout(timeout) {
        if (m_connection.Connect(strPath) != 0)
            throw std::runtime_error("cannot connect to " + strPath);
    }

    static Bytes Handle(std::uint32_t dwHandle) {
        Bytes input(4);
        Vantry::PutU32(input.data(), dwHandle);
        return input;
    }
    CAnswerBytes Call(std::uint32_t dwCode, std::uint32_t dwCapacity, const Bytes& input = {}) {
        CScopedFd hTimer(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC));
        const auto ns = std::chrono::nanoseconds(m_timeout).count();
        const itimerspec due{{0, 0}, {ns / 1000000000, ns % 1000000000}};
        timerfd_settime(hTimer.Get(), 0, &due, nullptr);
        CAnswerBytes answer{0, Bytes(dwCapacity)};
        std::size_t nOutput = 0;
        answer.nStatus =
            m_connection.Transact(dwCode, input, answer.output, nOutput, hTimer.Get(), -1);
        answer.output.resize(nOutput);
        return answer;
    }

    CAnswerBytes Attach(const std::string& strPath) {
        return Call(Vantry::IOCTL_VANTRY_ATTACH, 4, *Vantry::EncodeDevicePath(strPath));
    }
    std::uint32_t AttachOk(const std::string& strPath) {
        const auto answer = Attach(strPath);
        if (answer.nStatus != 0 || answer.output.size() != 4)
            throw std::runtime_error("attach failed: " + std::to_string(answer.nStatus));
        return Vantry::GetU32(answer.output.data());
    }
    int Detach(std::uint32_t dwHandle) {
        return Call(Vantry::IOCTL_VANTRY_DETACH, 0, Handle(dwHandle)).nStatus;
    }
    CAnswerBytes Wait(std::uint32_t dwHandle) {
        return Call(Vantry::IOCTL_VANTRY_WAIT_RECORD, 4, Handle(dwHandle));
    }
    CAnswerBytes Fetch(std::uint32_t dwHandle, std::uint32_t dwCapacity) {
        return Call(Vantry::IOCTL_VANTRY_FETCH_RECORD, dwCapacity, Handle(dwHandle));
    }
    // Wait and fetch: the record, or empty when either failed.
    Bytes Next(std::uint32_t dwHandle) {
        const auto size = Wait(dwHandle);
        if (size.nStatus != 0)
            return {};
        return Fetch(dwHandle, Vantry::GetU32(size.output.data())).output;
    }

private:
    CVantryConnection m_connection;
    std::chrono::milliseconds m_timeout;
};
