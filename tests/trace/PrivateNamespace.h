// Tests that run a live driver on ports other than their own pty run again,
// whole, in a private PID and mount namespace (with its own /proc), so that
// the driver can never see, let alone trace, a process outside the test, and
// what they mount is gone with them.
#pragma once

#include "CScopedFd.h"
#include "Process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace PrivateNamespace {

inline const char* const INSIDE = "WIRELET_PRIVATE_NAMESPACE";

// This test again, alone, in a PID and mount namespace of its own.
inline std::vector<std::string> ThisTestInside() {
    const auto* pTest = testing::UnitTest::GetInstance()->current_test_info();
    char szSelf[PATH_MAX] = {};
    EXPECT_GT(readlink("/proc/self/exe", szSelf, sizeof szSelf - 1), 0);
    const std::string strTest = std::string(pTest->test_suite_name()) + "." + pTest->name();
    return std::vector<std::string>({"/usr/bin/unshare", "--pid", "--fork", "--mount-proc",
                                     "--kill-child", "/usr/bin/env", std::string(INSIDE) + "=1",
                                     szSelf, "--gtest_filter=" + strTest});
}

inline void ExpectPassed(CChild& inner) {
    EXPECT_EQ(inner.Wait(50s), 0) << inner.Out() << inner.Err();
}

} // namespace PrivateNamespace

// Inside the namespace: true, and the test goes on. Outside: runs the test
// inside, expects it to pass, and returns false (the test ends there).
inline bool InPrivateNamespace() {
    if (std::getenv(PrivateNamespace::INSIDE) != nullptr)
        return true;
    CChild inner(PrivateNamespace::ThisTestInside());
    PrivateNamespace::ExpectPassed(inner);
    return false;
}

// The same, in a user namespace of its own too, with every id mapped to
// itself: there the test may lower the namespace's own limits
// (/proc/sys/user) and leave the machine's as they are.
inline bool InPrivateUserNamespace() {
    if (std::getenv(PrivateNamespace::INSIDE) != nullptr)
        return true;
    std::vector<std::string> args = {"/usr/bin/unshare",       "--user", "--", "/bin/sh", "-c",
                                     "read go && exec \"$@\"", "sh"};
    const auto inside = PrivateNamespace::ThisTestInside();
    args.insert(args.end(), inside.begin(), inside.end());
    CChild inner(args);
    // Its ids are mapped by us, from outside, once it is in the namespace.
    const auto userNamespace = [](const std::string& strPid) {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/" + strPid + "/ns/user", error);
    };
    const std::string strPid = std::to_string(inner.Pid());
    for (int i = 0; i < 5000 && userNamespace(strPid) == userNamespace("self"); ++i)
        usleep(1000);
    for (const auto& [pszFile, pszMap] :
         {std::pair{"uid_map", "0 0 4294967295"}, std::pair{"setgroups", "allow"},
          std::pair{"gid_map", "0 0 4294967295"}}) {
        std::ofstream file("/proc/" + strPid + "/" + pszFile);
        file << pszMap << std::endl;
        EXPECT_TRUE(file.good()) << pszFile;
    }
    inner.Send("\n");
    PrivateNamespace::ExpectPassed(inner);
    return false;
}

// A devpts instance of its own, mounted at a directory: its ptys count from
// 0, and their device numbers are those of the host's ptys of the same index.
class CPrivateDevpts {
public:
    explicit CPrivateDevpts(const std::string& strDir) : m_strDir(strDir) {
        mkdir(strDir.c_str(), 0755);
        if (mount("devpts", strDir.c_str(), "devpts", 0, "newinstance,ptmxmode=0666,mode=0666") !=
            0)
            throw std::runtime_error("cannot mount devpts at " + strDir);
    }
    ~CPrivateDevpts() { umount2(m_strDir.c_str(), MNT_DETACH); }

    // A new pty: its master, and the slave's path in `strSlave`.
    CScopedFd Open(std::string& strSlave) const {
        CScopedFd master(open((m_strDir + "/ptmx").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        unsigned int nIndex = 0, nUnlock = 0;
        if (!master.IsValid() || ioctl(master.Get(), TIOCSPTLCK, &nUnlock) != 0 ||
            ioctl(master.Get(), TIOCGPTN, &nIndex) != 0)
            throw std::runtime_error("cannot open a pty in " + m_strDir);
        strSlave = m_strDir + "/" + std::to_string(nIndex);
        return master;
    }

private:
    std::string m_strDir;
};
