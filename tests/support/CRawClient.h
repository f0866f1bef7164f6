// A bare connection to the driver device that sends exactly the bytes a test
// gives it, so that malformed requests can be sent on purpose.
#pragma once

#include "VantryProtocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct CAnswerBytes {
    int nStatus = -1; // -1: the connection ended
    Bytes output;
};

class CRawClient {
public:
    explicit CRawClient(const std::string& strPath) {
        m_hSocket = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, strPath.c_str(), sizeof address.sun_path - 1);
        if (connect(m_hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to " + strPath);
    }
    ~CRawClient() { close(m_hSocket); }
    CRawClient(const CRawClient&) = delete;

    static Bytes Request(std::uint32_t dwCode, std::uint32_t dwCapacity, const Bytes& input = {}) {
        Bytes message(8);
        Vantry::PutU32(message.data(), dwCode);
        Vantry::PutU32(message.data() + 4, dwCapacity);
        message.insert(message.end(), input.begin(), input.end());
        return message;
    }
    static Bytes Handle(std::uint32_t dwHandle) {
        Bytes input(4);
        Vantry::PutU32(input.data(), dwHandle);
        return input;
    }

    void Send(const Bytes& message) {
        send(m_hSocket, message.data(), message.size(), MSG_NOSIGNAL);
    }
    CAnswerBytes Receive() {
        Bytes buffer(1 << 17);
        const ssize_t n = recv(m_hSocket, buffer.data(), buffer.size(), 0);
        if (n < 4)
            return {};
        return {int(Vantry::GetU32(buffer.data())), Bytes(buffer.begin() + 4, buffer.begin() + n)};
    }
    CAnswerBytes Call(const Bytes& message) {
        Send(message);
        return Receive();
    }
    // True when an answer (or the end) is waiting.
    bool HasAnswer() {
        pollfd fd{m_hSocket, POLLIN, 0};
        return poll(&fd, 1, 0) == 1;
    }

    CAnswerBytes Attach(const std::string& strPath) {
        return Call(Request(Vantry::IOCTL_VANTRY_ATTACH, 4, *Vantry::EncodeDevicePath(strPath)));
    }
    std::uint32_t AttachOk(const std::string& strPath) {
        const auto answer = Attach(strPath);
        if (answer.nStatus != 0 || answer.output.size() != 4)
            throw std::runtime_error("attach failed: " + std::to_string(answer.nStatus));
        return Vantry::GetU32(answer.output.data());
    }
    int Detach(std::uint32_t dwHandle) {
        return Call(Request(Vantry::IOCTL_VANTRY_DETACH, 0, Handle(dwHandle))).nStatus;
    }
    CAnswerBytes Wait(std::uint32_t dwHandle) {
        return Call(Request(Vantry::IOCTL_VANTRY_WAIT_RECORD, 4, Handle(dwHandle)));
    }
    CAnswerBytes Fetch(std::uint32_t dwHandle, std::uint32_t dwCapacity) {
        return Call(Request(Vantry::IOCTL_VANTRY_FETCH_RECORD, dwCapacity, Handle(dwHandle)));
    }
    // Wait and fetch: the record, or empty when either failed.
    Bytes Next(std::uint32_t dwHandle) {
        const auto size = Wait(dwHandle);
        if (size.nStatus != 0)
            return {};
        return Fetch(dwHandle, Vantry::GetU32(size.output.data())).output;
    }

private:
    int m_hSocket = -1;
};
