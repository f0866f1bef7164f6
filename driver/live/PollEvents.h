// One wait of a live source's thread for its fds.
#pragma once

#include "DriverLog.h"

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

// An error other than an interruption (no memory for the poll table) comes
// back at once, again and again: the thread waits a little instead of
// spinning, and says so once. Less than 0 when nothing was polled.
inline int PollEvents(pollfd* pFds, nfds_t nFds, int nTimeoutMs) {
    const int nReady = poll(pFds, nFds, nTimeoutMs);
    if (nReady < 0 && errno != EINTR) {
        static std::atomic_flag logged;
        if (!logged.test_and_set())
            Log("poll", errno);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nReady;
}
