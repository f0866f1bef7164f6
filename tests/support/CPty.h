// A pseudo-terminal pair standing for a serial line: the slave is a real
// terminal device for the application (and to attach to), the master is the
// device at the other end. Everything sent to the line is collected.
#pragma once

#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

class CPty {
public:
    CPty() {
        m_hMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_hMaster < 0 || grantpt(m_hMaster) != 0 || unlockpt(m_hMaster) != 0)
            throw std::runtime_error("posix_openpt failed");
        m_strSlave = ptsname(m_hMaster);
        m_hStop = eventfd(0, EFD_CLOEXEC);
        m_reader = std::thread([this] { Collect(); });
    }
    ~CPty() {
        const std::uint64_t qwOne = 1;
        [[maybe_unused]] const auto n = write(m_hStop, &qwOne, sizeof qwOne);
        m_reader.join();
        close(m_hStop);
        close(m_hMaster);
    }
    CPty(const CPty&) = delete;

    const std::string& Slave() const { return m_strSlave; }
    void Send(const std::string& strText) {
        [[maybe_unused]] const auto n = write(m_hMaster, strText.data(), strText.size());
    }
    std::string Received() {
        std::lock_guard lock(m_mutex);
        return m_strReceived;
    }
    bool WaitReceived(std::size_t nBytes,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_strReceived.size() >= nBytes; });
    }

private:
    void Collect() {
        for (;;) {
            pollfd fds[2] = {{m_hMaster, POLLIN, 0}, {m_hStop, POLLIN, 0}};
            poll(fds, 2, -1);
            if (fds[1].revents)
                return;
            char buffer[65536];
            const ssize_t n = read(m_hMaster, buffer, sizeof buffer);
            if (n <= 0) { // no slave open (yet or any more): nothing to read for now
                poll(&fds[1], 1, 2);
                continue;
            }
            std::lock_guard lock(m_mutex);
            m_strReceived.append(buffer, std::size_t(n));
            m_changed.notify_all();
        }
    }

    int m_hMaster = -1;
    int m_hStop = -1;
    std::string m_strSlave;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_strReceived;
    std::thread m_reader;
};
