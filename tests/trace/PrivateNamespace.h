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

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace PrivateNamespace {

inline const char* const INSIDE = "WIRELET_PRIVATE_NAMESPACE";

// Runs this test again, alone, in a PID and mount namespace of its own,
// behind `args`, and expects it to pass; `started` is done once it runs.
inline void RunThisTestInside(std::vector<std::string> args,
                              const std::function<void(CChild&)>& started = {}) {
    const auto* pTest = testing::UnitTest::GetInstance()->current_test_info();
    args.insert(args.end(),
                {"/usr/bin/unshare", "--pid", "--fork", "--mount-proc", "--kill-child",
                 "/usr/bin/env", std::string(INSIDE) + "=1",
                 std::filesystem::read_symlink("/proc/self/exe"),
                 "--gtest_filter=" + std::string(pTest->test_suite_name()) + "." + pTest->name()});
    CChild inner(args);
    if (started)
        started(inner);
    EXPECT_EQ(inner.Wait(50s), 0) << inner.Out() << inner.Err();
}

} // namespace PrivateNamespace

// Inside the namespace: true, and the test goes on. Outside: runs the test
// inside, expects it to pass, and returns false (the test ends there).
inline bool InPrivateNamespace() {
    if (std::getenv(PrivateNamespace::INSIDE) != nullptr)
        return true;
    PrivateNamespace::RunThisTestInside({});
    return false;
}

// The same, in a user namespace of its own too, with every id mapped to
// itself: there the test may lower the namespace's own limits
// (/proc/sys/user) and leave the machine's as they are.
inline bool InPrivateUserNamespace() {
    if (std::getenv(PrivateNamespace::INSIDE) != nullptr)
        return true;
    PrivateNamespace::RunThisTestInside(
        {"/usr/bin/unshare", "--user", "--", "/bin/sh", "-c", "echo in && read go && exec \"$@\"",
         "sh"},
        [](CChild& inner) {
            // Its ids are mapped by us, from outside, once it is in the namespace.
            EXPECT_FALSE(inner.WaitLine("in").empty());
            const std::string strProc = "/proc/" + std::to_string(inner.Pid()) + "/";
            for (const auto& [pszFile, pszMap] :
                 {std::pair{"uid_map", "0 0 4294967295"}, std::pair{"setgroups", "allow"},
                  std::pair{"gid_map", "0 0 4294967295"}})
                EXPECT_TRUE(std::ofstream(strProc + pszFile) << pszMap << std::endl) << pszFile;
            inner.Send("\n");
        });
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
