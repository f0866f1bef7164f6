// Who is on the other end of a connection, as the kernel vouches for it at
// connect time: uid, primary and supplementary groups, pid.
#pragma once

#include <sys/types.h>

#include <vector>

struct CPeer {
    pid_t m_nPid = 0;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    std::vector<gid_t> m_groups;

    // Fills the peer of a connected Unix socket; 0 or an errno value.
    static int FromSocket(int hSocket, CPeer& peer);
};
