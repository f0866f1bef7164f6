// Signals taken as readable events: blocked for the whole process and read
// from a signalfd, so that a poll loop sees them between its other events.
#pragma once

#include "CScopedFd.h"

#include <signal.h>
#include <sys/signalfd.h>

#include <initializer_list>
#include <optional>

class CSignalFd {
public:
    // The signals stay blocked for the rest of the process's life: one that
    // comes while it ends must not end it another way.
    explicit CSignalFd(std::initializer_list<int> signals);
    CSignalFd(const CSignalFd&) = delete;
    CSignalFd& operator=(const CSignalFd&) = delete;

    int Get() const { return m_hFd.Get(); }
    // The next pending signal, nothing when none is pending.
    std::optional<signalfd_siginfo> Read() const;
    // For a child between fork and exec: the mask it would have had.
    void RestoreMask() const;

private:
    sigset_t m_oldMask{};
    CScopedFd m_hFd;
};
