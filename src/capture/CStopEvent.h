// The stop event of a reader: an eventfd that, once set, ends every wait and
// fetch given it at once, and stays set.
#pragma once

#include "CScopedFd.h"

class CStopEvent {
public:
    CStopEvent();
    CStopEvent(const CStopEvent&) = delete;
    CStopEvent& operator=(const CStopEvent&) = delete;

    // Safe from any thread and from a signal handler.
    void Set() const;
    // Readable while set; for poll.
    int Fd() const { return m_hEvent.Get(); }

private:
    CScopedFd m_hEvent;
};
