// Opens and releases of the watched device nodes. inotify reports an open
// when a file description of the node is created and a close when one is
// released, which is exactly when a port is opened and closed. It also says
// when a node goes away (a pty closed for good, an adapter unplugged).
#pragma once

#include "CScopedFd.h"

#include <vector>

class CInotify {
public:
    enum class EKind {
        Opened,
        Closed,  // a file description was released
        Changed, // attributes changed; the node may have lost its last link
        Gone,    // the node is deleted, or its watch ended
        Lost,    // the queue overflowed: events are missing here
    };
    struct CEvent {
        int nWatch;
        EKind eKind;
    };

    CInotify();
    int Fd() const { return m_fd.Get(); }
    // Watches the node that hNode (any fd, O_PATH will do) refers to, never
    // a path: a watch descriptor, or -errno.
    int Add(int hNode);
    void Remove(int nWatch);
    // Everything queued so far, without blocking.
    std::vector<CEvent> Drain();

private:
    CScopedFd m_fd;
};
