// The read loop of the non-blocking inotify and fanotify fds.
#pragma once

#include <unistd.h>

#include <cstddef>

// Reads hFd until it has nothing more, handing each read's whole events to
// handle(buffer, size).
template <typename THandle> void DrainNotifications(int hFd, THandle handle) {
    alignas(std::max_align_t) char buffer[4096];
    for (;;) {
        const ssize_t nRead = read(hFd, buffer, sizeof buffer);
        if (nRead <= 0)
            return;
        handle(buffer, nRead);
    }
}
