#include "SystemdLink.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "CScopedFd.h"

namespace {

// systemd hands its descriptors over from this one on.
constexpr int FIRST_PASSED_FD = 3;

bool ParseNumber(const char* psz, long& nValue) {
    const char* pszEnd = psz + std::strlen(psz);
    const auto result = std::from_chars(psz, pszEnd, nValue);
    return result.ec == std::errc() && result.ptr == pszEnd && pszEnd != psz;
}

} // namespace

int SystemdLink::TakeListeningSocket(std::string& strError) {
    const char* pszPid = std::getenv("LISTEN_PID");
    const char* pszFds = std::getenv("LISTEN_FDS");
    long nPid = 0, nFds = 0;
    // Meant for another process when the pid is not ours (a parent's, leaked).
    const bool bOurs = pszPid && pszFds && ParseNumber(pszPid, nPid) && nPid == getpid();
    const std::string strFds = pszFds ? pszFds : "";
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    if (!bOurs)
        return -1;
    if (!ParseNumber(strFds.c_str(), nFds) || nFds != 1) {
        strError = "systemd passed LISTEN_FDS=" + strFds + ", expected one socket";
        return -2;
    }
    fcntl(FIRST_PASSED_FD, F_SETFD, FD_CLOEXEC);
    return FIRST_PASSED_FD;
}

bool SystemdLink::NotifyReady(std::string& strError) {
    const char* pszSocket = std::getenv("NOTIFY_SOCKET");
    if (pszSocket == nullptr || *pszSocket == '\0')
        return true;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t nLength = std::strlen(pszSocket);
    if ((pszSocket[0] != '/' && pszSocket[0] != '@') || nLength >= sizeof address.sun_path) {
        strError = std::string("NOTIFY_SOCKET is not a socket path: ") + pszSocket;
        return false;
    }
    std::memcpy(address.sun_path, pszSocket, nLength);
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0'; // an abstract socket
    static const char READY[] = "READY=1";
    CScopedFd hSocket(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const bool bSent =
        hSocket.IsValid() && sendto(hSocket.Get(), READY, sizeof READY - 1, MSG_NOSIGNAL,
                                    reinterpret_cast<const sockaddr*>(&address),
                                    socklen_t(offsetof(sockaddr_un, sun_path) + nLength)) >= 0;
    if (!bSent)
        strError = std::string("cannot report readiness to systemd: ") + std::strerror(errno);
    unsetenv("NOTIFY_SOCKET");
    return bSent;
}
