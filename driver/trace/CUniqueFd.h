// An fd that closes itself, so that no path of the tracer leaks one.
#pragma once

#include <unistd.h>

#include <utility>

class CUniqueFd {
public:
    CUniqueFd() = default;
    explicit CUniqueFd(int hFd) : m_hFd(hFd) {}
    CUniqueFd(CUniqueFd&& other) noexcept : m_hFd(std::exchange(other.m_hFd, -1)) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept {
        if (this != &other)
            Reset(std::exchange(other.m_hFd, -1));
        return *this;
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;
    ~CUniqueFd() { Reset(); }

    int Get() const { return m_hFd; }
    bool IsValid() const { return m_hFd >= 0; }
    void Reset(int hFd = -1) {
        if (m_hFd >= 0)
            ::close(m_hFd);
        m_hFd = hFd;
    }

private:
    int m_hFd = -1;
};
