// A file descriptor that closes itself, so that no path through a procedure
// can leak one into a daemon started later.
#pragma once

#include <unistd.h>

#include <utility>

class CUniqueFd {
public:
    CUniqueFd() = default;
    explicit CUniqueFd(int nFd) : m_nFd(nFd) {}
    CUniqueFd(CUniqueFd&& other) noexcept : m_nFd(std::exchange(other.m_nFd, -1)) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept {
        if (this != &other)
            Reset(std::exchange(other.m_nFd, -1));
        return *this;
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;
    ~CUniqueFd() { Reset(); }

    int Get() const { return m_nFd; }
    bool IsValid() const { return m_nFd >= 0; }
    int Release() { return std::exchange(m_nFd, -1); }
    void Reset(int nFd = -1) {
        if (m_nFd >= 0)
            ::close(m_nFd);
        m_nFd = nFd;
    }

private:
    int m_nFd = -1;
};
