#include "CInotify.h"

#include "DrainNotifications.h"

#include <sys/inotify.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

CInotify::CInotify() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (!m_fd.IsValid())
        throw std::runtime_error(std::string("inotify_init1: ") + std::strerror(errno));
}

int CInotify::Add(int hNode) {
    // Only opens, closes and the node's end: access and modify events would
    // fire on every read and write of the port and flood the queue. The
    // /proc link leads to the node the fd holds, whatever its path names now.
    const std::string strNode = "/proc/self/fd/" + std::to_string(hNode);
    const int nWatch = inotify_add_watch(m_fd.Get(), strNode.c_str(),
                                         IN_OPEN | IN_CLOSE | IN_ATTRIB | IN_DELETE_SELF);
    return nWatch >= 0 ? nWatch : -errno;
}

void CInotify::Remove(int nWatch) {
    inotify_rm_watch(m_fd.Get(), nWatch);
}

std::vector<CInotify::CEvent> CInotify::Drain() {
    std::vector<CEvent> events;
    DrainNotifications(m_fd.Get(), [&](const char* buffer, ssize_t nRead) {
        for (ssize_t nOffset = 0; nOffset < nRead;) {
            inotify_event event;
            std::memcpy(&event, buffer + nOffset, sizeof event);
            if (event.mask & IN_Q_OVERFLOW)
                events.push_back({-1, EKind::Lost});
            if (event.mask & IN_OPEN)
                events.push_back({event.wd, EKind::Opened});
            if (event.mask & IN_CLOSE)
                events.push_back({event.wd, EKind::Closed});
            if (event.mask & IN_ATTRIB)
                events.push_back({event.wd, EKind::Changed});
            if (event.mask & (IN_DELETE_SELF | IN_IGNORED))
                events.push_back({event.wd, EKind::Gone});
            nOffset += ssize_t(sizeof(inotify_event) + event.len);
        }
    });
    return events;
}
