// Who opened and closed the watched device nodes: a fanotify group in FID
// mode names the process of every open at once, so the opener of a port is
// found without a walk through all of /proc; its closes name their
// processes too, which inotify does not, and tell when inotify folded some
// away. FID mode opens nothing on the node (a real port is never touched);
// it only reports. On a kernel that refuses it, no opener is named and the
// walk through /proc remains.
#pragma once

#include "CScopedFd.h"

#include <sys/types.h>

#include <vector>

class CFanotify {
public:
    CFanotify();
    bool IsActive() const { return m_fd.IsValid(); }
    int Fd() const { return m_fd.Get(); }
    // Opens and closes of the node that hNode (an O_PATH fd will do) refers
    // to; false, with errno set, when the kernel refused the mark.
    bool Add(int hNode);
    void Remove(int hNode);
    // The processes that opened a watched node since the last call, and in
    // `closers` those that closed one, in order (one process's events fold
    // into one while unread); bLost when the queue overflowed and some were
    // not named.
    std::vector<pid_t> Drain(bool& bLost, std::vector<pid_t>& closers);

private:
    bool Mark(unsigned int nFlags, int hNode);

    CScopedFd m_fd;
};
