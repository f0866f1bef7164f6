// Opens and releases of the watched device nodes. inotify reports an open
// when a file description of the node is created and a close when one is
// released, which is exactly when a port is opened and closed.
#pragma once

#include "CScopedFd.h"

#include <string>
#include <vector>

class CInotify {
public:
    struct CEvent {
        int nWatch;
        bool bOpened;       // false: a file description was released
        bool bLost = false; // the queue overflowed: events are missing here
    };

    CInotify();
    int Fd() const { return m_fd.Get(); }
    // A watch descriptor, or -errno.
    int Add(const std::string& strPath);
    void Remove(int nWatch);
    // Everything queued so far, without blocking.
    std::vector<CEvent> Drain();

private:
    CScopedFd m_fd;
};
