#include "CStopEvent.h"

#include <sys/eventfd.h>

#include <stdexcept>

CStopEvent::CStopEvent() : m_hEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_hEvent.IsValid())
        throw std::runtime_error("eventfd failed");
}

void CStopEvent::Set() const {
    eventfd_write(m_hEvent.Get(), 1);
}
