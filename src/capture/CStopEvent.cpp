#include "CStopEvent.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <stdexcept>

CStopEvent::CStopEvent() : m_hEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_hEvent.IsValid())
        throw std::runtime_error("eventfd failed");
}

void CStopEvent::Set() const {
    eventfd_write(m_hEvent.Get(), 1);
}

void CStopEvent::Reset() const {
    eventfd_t value;
    eventfd_read(m_hEvent.Get(), &value);
}

bool CStopEvent::IsSet() const {
    pollfd fd{m_hEvent.Get(), POLLIN, 0};
    return poll(&fd, 1, 0) == 1;
}
