#include "CFanotify.h"

#include "DrainNotifications.h"

#include <fcntl.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <string>

CFanotify::CFanotify()
    : m_fd(fanotify_init(FAN_CLASS_NOTIF | FAN_REPORT_FID | FAN_NONBLOCK | FAN_CLOEXEC, O_RDONLY)) {
}

bool CFanotify::Mark(unsigned int nFlags, int hNode) {
    if (!m_fd.IsValid())
        return false;
    // The /proc link leads to the node the fd holds (fanotify takes no
    // O_PATH fd by itself).
    const std::string strNode = "/proc/self/fd/" + std::to_string(hNode);
    return fanotify_mark(m_fd.Get(), nFlags, FAN_OPEN | FAN_CLOSE, AT_FDCWD, strNode.c_str()) == 0;
}

bool CFanotify::Add(int hNode) {
    return Mark(FAN_MARK_ADD, hNode);
}

void CFanotify::Remove(int hNode) {
    Mark(FAN_MARK_REMOVE, hNode);
}

std::vector<pid_t> CFanotify::Drain(bool& bLost, std::vector<pid_t>& closers) {
    std::vector<pid_t> openers;
    bLost = false;
    closers.clear();
    if (!m_fd.IsValid())
        return openers;
    DrainNotifications(m_fd.Get(), [&](const char* buffer, ssize_t nRead) {
        ssize_t nLeft = nRead;
        for (auto* pEvent = reinterpret_cast<const fanotify_event_metadata*>(buffer);
             FAN_EVENT_OK(pEvent, nLeft); pEvent = FAN_EVENT_NEXT(pEvent, nLeft)) {
            if (pEvent->mask & FAN_OPEN)
                openers.push_back(pEvent->pid);
            if (pEvent->mask & FAN_CLOSE)
                closers.push_back(pEvent->pid);
            bLost = bLost || (pEvent->mask & FAN_Q_OVERFLOW);
        }
    });
    return openers;
}
