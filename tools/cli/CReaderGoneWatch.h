// Sets a stop event once the reader at the other end of a pipe, fifo or
// socket has gone (Wireshark stopped, sshdump closed its channel), so that a
// capture ends and detaches even while the port is silent and nothing is
// written that would fail with EPIPE.
#pragma once

#include "CStopEvent.h"

#include <thread>

class CReaderGoneWatch {
public:
    CReaderGoneWatch(int hFd, const CStopEvent& stop);
    ~CReaderGoneWatch();
    CReaderGoneWatch(const CReaderGoneWatch&) = delete;
    CReaderGoneWatch& operator=(const CReaderGoneWatch&) = delete;

private:
    CStopEvent m_ended;
    std::thread m_thread;
};
