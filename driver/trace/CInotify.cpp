#include "CInotify.h"

#include <sys/inotify.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

CInotify::CInotify() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (!m_fd.IsValid())
        throw std::runtime_error(std::string("inotify_init1: ") + std::strerror(errno));
}

int CInotify::Add(const std::string& strPath) {
    // Only opens and closes: access and modify events would fire on every
    // read and write of the port and flood the queue.
    const int nWatch = inotify_add_watch(m_fd.Get(), strPath.c_str(), IN_OPEN | IN_CLOSE);
    return nWatch >= 0 ? nWatch : -errno;
}

void CInotify::Remove(int nWatch) {
    inotify_rm_watch(m_fd.Get(), nWatch);
}

std::vector<CInotify::CEvent> CInotify::Drain() {
    std::vector<CEvent> events;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t nRead = read(m_fd.Get(), buffer, sizeof buffer);
        if (nRead <= 0)
            break;
        for (ssize_t nOffset = 0; nOffset < nRead;) {
            inotify_event event;
            std::memcpy(&event, buffer + nOffset, sizeof event);
            if (event.mask & IN_Q_OVERFLOW)
                events.push_back({-1, false, true});
            if (event.mask & IN_OPEN)
                events.push_back({event.wd, true});
            if (event.mask & IN_CLOSE)
                events.push_back({event.wd, false});
            nOffset += ssize_t(sizeof(inotify_event) + event.len);
        }
    }
    return events;
}
