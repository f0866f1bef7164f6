#include "CVantryConnection.h"

#include "VantryProtocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

int CVantryConnection::Connect(const std::string& strPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (strPath.empty() || strPath.size() >= sizeof address.sun_path)
        return ENAMETOOLONG;
    std::memcpy(address.sun_path, strPath.c_str(), strPath.size() + 1);
    CScopedFd hSocket(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!hSocket.IsValid())
        return errno;
    if (connect(hSocket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return errno;
    m_hSocket = std::move(hSocket);
    m_bBroken = m_bAnswerOwed = false;
    return 0;
}

int CVantryConnection::Transact(std::uint32_t dwCode, std::span<const std::uint8_t> input,
                                std::span<std::uint8_t> output, std::size_t& nOutput, int hStopFd,
                                int hCloseFd) {
    nOutput = 0;
    if (IsBroken())
        return EPIPE;
    std::uint8_t header[Vantry::REQUEST_HEADER_SIZE];
    Vantry::PutU32(header, dwCode);
    Vantry::PutU32(header + 4, std::uint32_t(output.size()));
    iovec vectors[2] = {{header, sizeof header},
                        {const_cast<std::uint8_t*>(input.data()), input.size()}};
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = input.empty() ? 1 : 2;
    if (sendmsg(m_hSocket.Get(), &message, MSG_NOSIGNAL) < 0) {
        m_bBroken = true;
        return errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN ? EPIPE : errno;
    }
    return Await(output, nOutput, hStopFd, hCloseFd);
}

int CVantryConnection::AwaitOwedAnswer(std::span<std::uint8_t> output, std::size_t& nOutput,
                                       int hStopFd, int hCloseFd) {
    nOutput = 0;
    if (!IsAnswerOwed())
        return EPIPE;
    m_bBroken = m_bAnswerOwed = false;
    return Await(output, nOutput, hStopFd, hCloseFd);
}

int CVantryConnection::Await(std::span<std::uint8_t> output, std::size_t& nOutput, int hStopFd,
                             int hCloseFd) {
    pollfd fds[3] = {{m_hSocket.Get(), POLLIN, 0}, {hStopFd, POLLIN, 0}, {hCloseFd, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            m_bBroken = true;
            return errno;
        }
        // An answer that is there wins over a stop that came with it.
        if (fds[0].revents != 0)
            return Receive(output, nOutput);
        if (fds[1].revents != 0 || fds[2].revents != 0) {
            m_bBroken = true;
            m_bAnswerOwed = fds[2].revents == 0;
            return fds[2].revents != 0 ? EBADF : ECANCELED;
        }
    }
}

int CVantryConnection::Receive(std::span<std::uint8_t> output, std::size_t& nOutput) {
    std::uint8_t status[Vantry::ANSWER_HEADER_SIZE];
    iovec vectors[2] = {{status, sizeof status}, {output.data(), output.size()}};
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = output.empty() ? 1 : 2;
    const ssize_t nRead = recvmsg(m_hSocket.Get(), &message, MSG_DONTWAIT);
    if (nRead <= 0) {
        m_bBroken = true;
        return nRead == 0 || errno == ECONNRESET ? EPIPE : errno;
    }
    if (std::size_t(nRead) < sizeof status || (message.msg_flags & MSG_TRUNC)) {
        m_bBroken = true;
        return EPROTO;
    }
    nOutput = std::size_t(nRead) - sizeof status;
    return int(Vantry::GetU32(status));
}
