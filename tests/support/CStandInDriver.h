// A stand-in for the driver that answers what no real driver would: each
// request, on whichever connection it comes, gets the next of the answers
// given (status, then output). Once they are used up, or none is asked for
// within 5 seconds, it is gone as a killed driver is: its socket is left
// behind, and nothing listens on it any more.
#pragma once

#include "CRawClient.h"

#include <poll.h>

#include <thread>

class CStandInDriver {
public:
    static Bytes Answer(int nStatus, Bytes output) {
        output.insert(output.begin(), 4, 0);
        Vantry::PutU32(output.data(), std::uint32_t(nStatus));
        return output;
    }

    CStandInDriver(const std::string& strPath, std::vector<Bytes> answers)
        : m_hListen(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0)) {
        const sockaddr_un address = UnixAddress(strPath);
        if (bind(m_hListen.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) ||
            listen(m_hListen.Get(), 8))
            throw std::runtime_error("cannot listen on " + strPath);
        m_thread = std::thread([this, answers] {
            std::vector<pollfd> fds = {{m_hListen.Get(), POLLIN, 0}};
            std::vector<CScopedFd> connections;
            for (std::size_t nAnswered = 0; nAnswered < answers.size();) {
                if (poll(fds.data(), fds.size(), 5000) <= 0)
                    break;
                if (fds[0].revents != 0) {
                    connections.emplace_back(accept4(m_hListen.Get(), nullptr, nullptr, 0));
                    fds.push_back({connections.back().Get(), POLLIN, 0});
                }
                for (std::size_t i = 1; i < fds.size() && nAnswered < answers.size(); ++i) {
                    std::uint8_t request[64];
                    if (fds[i].revents == 0 || recv(fds[i].fd, request, sizeof request, 0) < 8) {
                        fds[i].fd = fds[i].revents != 0 ? -1 : fds[i].fd;
                        continue;
                    }
                    m_capacities.push_back(Vantry::GetU32(request + 4));
                    const Bytes& answer = answers[nAnswered++];
                    send(fds[i].fd, answer.data(), answer.size(), MSG_NOSIGNAL);
                }
            }
            m_hListen.Reset();
        });
    }
    ~CStandInDriver() { Capacities(); }

    // The capacity of each request answered, once every answer is used up.
    const std::vector<std::uint32_t>& Capacities() {
        if (m_thread.joinable())
            m_thread.join();
        return m_capacities;
    }

private:
    CScopedFd m_hListen;
    std::thread m_thread;
    std::vector<std::uint32_t> m_capacities;
};
