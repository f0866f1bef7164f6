// A file descriptor that closes itself; moves, never copies.
#pragma once

#include <unistd.h>

#include <utility>

class CScopedFd {
public:
    CScopedFd() = default;
    explicit CScopedFd(int hFd) : m_hFd(hFd) {}
    CScopedFd(CScopedFd&& other) noexcept : m_hFd(std::exchange(other.m_hFd, -1)) {}
    CScopedFd& operator=(CScopedFd&& other) noexcept {
        if (this != &other)
            Reset(std::exchange(other.m_hFd, -1));
        return *this;
    }
    ~CScopedFd() { Reset(); }

    int Get() const { return m_hFd; }
    bool IsValid() const { return m_hFd >= 0; }
    // Gives up ownership, for a caller that must see close() fail.
    int Release() { return std::exchange(m_hFd, -1); }
    void Reset(int hFd = -1) {
        if (m_hFd >= 0)
            ::close(m_hFd);
        m_hFd = hFd;
    }

private:
    int m_hFd = -1;
};
