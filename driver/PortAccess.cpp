#include "PortAccess.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

namespace PortAccess {

// Unix98 pty slaves (majors 136 to 143) live on devpts and have no sysfs
// entry; every other terminal is a device of the tty class.
bool IsTerminalDevice(dev_t device) {
    if (major(device) >= 136 && major(device) <= 143)
        return true;
    const std::string strLink = "/sys/dev/char/" + std::to_string(major(device)) + ":" +
                                std::to_string(minor(device)) + "/subsystem";
    char szTarget[PATH_MAX];
    const ssize_t nLength = readlink(strLink.c_str(), szTarget, sizeof szTarget - 1);
    if (nLength <= 0)
        return false;
    const std::string strTarget(szTarget, std::size_t(nLength));
    return strTarget.ends_with("/class/tty");
}

// The permission bits that apply to the peer, as the kernel would pick them
// for an open (access control lists aside).
static bool MayReadAndWrite(const struct stat& status, const CPeer& peer) {
    if (peer.m_uid == 0)
        return true;
    mode_t bits;
    if (status.st_uid == peer.m_uid)
        bits = (status.st_mode >> 6) & 7;
    else if (status.st_gid == peer.m_gid || std::find(peer.m_groups.begin(), peer.m_groups.end(),
                                                      status.st_gid) != peer.m_groups.end())
        bits = (status.st_mode >> 3) & 7;
    else
        bits = status.st_mode & 7;
    return (bits & 6) == 6;
}

int Check(const std::string& strPath, const CPeer& peer, dev_t& port) {
    if (strPath.empty() || strPath[0] != '/')
        return EINVAL;
    struct stat status {};
    if (stat(strPath.c_str(), &status) != 0)
        return errno;
    if (!S_ISCHR(status.st_mode) || !IsTerminalDevice(status.st_rdev))
        return ENOTTY;
    if (!MayReadAndWrite(status, peer))
        return EACCES;
    port = status.st_rdev;
    return 0;
}

} // namespace PortAccess
