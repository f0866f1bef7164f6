#include "PortAccess.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/openat2.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

namespace PortAccess {

namespace {

bool IsPtySlave(dev_t device) {
    return major(device) >= 136 && major(device) <= 143;
}

std::string SysfsEntry(dev_t device) {
    return "/sys/dev/char/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// Root's capabilities would answer for another peer where its credentials
// do not: CAP_SYS_PTRACE opens other users' /proc magic links, CAP_DAC_* and
// CAP_SYS_ADMIN pass checks the peer would fail. Dropped from the permitted
// set too, so that nothing (access() as real root) raises them again. The
// raw call changes the calling thread alone.
int DropCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    return syscall(SYS_capset, &header, data) == 0 ? 0 : errno;
}

} // namespace

bool IsSerialPort(const struct stat& status) {
    if (IsPtySlave(status.st_rdev))
        return true;
    const std::string strEntry = SysfsEntry(status.st_rdev);
    char szTarget[PATH_MAX];
    const ssize_t nLength =
        readlink((strEntry + "/subsystem").c_str(), szTarget, sizeof szTarget - 1);
    if (nLength <= 0 || !std::string_view(szTarget, std::size_t(nLength)).ends_with("/class/tty"))
        return false;
    // Virtual terminals have no device behind them.
    if (access((strEntry + "/device").c_str(), F_OK) != 0)
        return false;
    // A serial-core port whose UART was never found is of type 0 (unknown).
    std::ifstream type(strEntry + "/type");
    int nType = 1;
    return !(type >> nType) || nType != 0;
}

// Resolves the path as the peer would (its fsuid, fsgid and groups, which
// also drop root's right to override file permissions) and checks the node.
// These credentials belong to the calling thread alone; the raw system
// calls keep them so, where the C library's setgroups would change every
// thread of the driver.
int CheckAsPeer(const std::string& strPath, const CPeer& peer, CPortId& port, CScopedFd& node) {
    if (syscall(SYS_setgroups, peer.m_groups.size(), peer.m_groups.data()) != 0)
        return errno;
    setfsgid(peer.m_gid);
    setfsuid(peer.m_uid);
    if (gid_t(setfsgid(gid_t(-1))) != peer.m_gid || uid_t(setfsuid(uid_t(-1))) != peer.m_uid)
        return EPERM;
    if (peer.m_uid != 0)
        if (const int nError = DropCapabilities())
            return nError;
    // A magic link of /proc jumps to whatever another process holds, past
    // the directories that would have stopped the peer: refused (ELOOP).
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_MAGICLINKS;
    node.Reset(int(syscall(SYS_openat2, AT_FDCWD, strPath.c_str(), &how, sizeof how)));
    // Without openat2 (an older kernel, or systemd's RestrictSUIDSGID, which
    // blocks it because seccomp cannot see its flags), the capabilities
    // dropped above already keep the peer out of other users' magic links.
    if (!node.IsValid() && errno == ENOSYS)
        node.Reset(open(strPath.c_str(), O_PATH | O_CLOEXEC));
    if (!node.IsValid())
        return errno;
    struct stat status {};
    if (fstat(node.Get(), &status) != 0)
        return errno;
    if (!S_ISCHR(status.st_mode) || !IsSerialPort(status))
        return ENOTTY;
    // The kernel's own open check, access control lists included.
    if (peer.m_uid != 0 &&
        syscall(SYS_faccessat2, node.Get(), "", R_OK | W_OK, AT_EMPTY_PATH | AT_EACCESS) != 0)
        return errno;
    port = CPortId{status.st_dev, status.st_rdev};
    return 0;
}

int Check(const std::string& strPath, const CPeer& peer, CPortId& port, CScopedFd& node) {
    if (strPath.empty() || strPath[0] != '/')
        return EINVAL;
    int nError = 0;
    try {
        std::thread([&] { nError = CheckAsPeer(strPath, peer, port, node); }).join();
    } catch (const std::system_error& error) {
        nError = error.code().value(); // no thread to be had: EAGAIN
    }
    if (nError != 0)
        node.Reset();
    return nError;
}

} // namespace PortAccess
