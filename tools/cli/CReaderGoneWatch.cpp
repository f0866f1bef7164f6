#include "CReaderGoneWatch.h"

#include <poll.h>

#include <cerrno>

CReaderGoneWatch::CReaderGoneWatch(int hFd, const CStopEvent& stop) {
    m_thread = std::thread([this, hFd, &stop] {
        // Asking for no events still reports POLLERR (a pipe without reader)
        // and POLLHUP (a socket or terminal hung up); a regular file reports
        // neither and is simply waited on.
        pollfd fds[2] = {{hFd, 0, 0}, {m_ended.Fd(), POLLIN, 0}};
        int nReady;
        do
            nReady = poll(fds, 2, -1);
        while (nReady < 0 && errno == EINTR);
        if (nReady > 0 && (fds[0].revents & (POLLERR | POLLHUP)) != 0)
            stop.Set();
    });
}

CReaderGoneWatch::~CReaderGoneWatch() {
    m_ended.Set();
    m_thread.join();
}
