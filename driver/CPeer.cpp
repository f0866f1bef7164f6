#include "CPeer.h"

#include <sys/socket.h>

#include <cerrno>

int CPeer::FromSocket(int hSocket, CPeer& peer) {
    ucred cred{};
    socklen_t nLength = sizeof cred;
    if (getsockopt(hSocket, SOL_SOCKET, SO_PEERCRED, &cred, &nLength) != 0)
        return errno;
    peer.m_nPid = cred.pid;
    peer.m_uid = cred.uid;
    peer.m_gid = cred.gid;
    peer.m_groups.resize(16);
    for (;;) {
        nLength = socklen_t(peer.m_groups.size() * sizeof(gid_t));
        if (getsockopt(hSocket, SOL_SOCKET, SO_PEERGROUPS, peer.m_groups.data(), &nLength) == 0)
            break;
        if (errno != ERANGE)
            return errno;
        peer.m_groups.resize(nLength / sizeof(gid_t) + 1);
    }
    peer.m_groups.resize(nLength / sizeof(gid_t));
    return 0;
}
