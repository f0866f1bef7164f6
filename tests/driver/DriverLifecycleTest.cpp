// Starting and stopping the driver as a service manager would.
#include "CDriverProcess.h"
#include "CPty.h"
#include "CRawClient.h"
#include "Process.h"
#include "RunAs.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>

namespace {

TEST(DriverLifecycleTest, RefusesAPathInUseAndReplacesAStaleSocket) {
    CDriverProcess first;
    ASSERT_TRUE(first.Start()) << first.Stderr();

    CDriverProcess second;
    std::ofstream(second.DevicePath()) << "keep me";
    EXPECT_FALSE(second.Start());
    EXPECT_EQ(second.ExitStatus(), 1);
    EXPECT_NE(second.Stderr().find("not a socket"), std::string::npos) << second.Stderr();
    std::string strKept;
    std::getline(std::ifstream(second.DevicePath()), strKept);
    EXPECT_EQ(strKept, "keep me");

    // A second driver on the first one's device.
    first.UseForThisProcess();
    const auto again = RunProcess({VANTRY_SYS_PATH});
    EXPECT_EQ(again.nExitStatus, 1);
    EXPECT_NE(again.strErr.find("already listening"), std::string::npos) << again.strErr;
    CPty pty;
    EXPECT_EQ(CRawClient(first.DevicePath()).Attach(pty.Slave()).nStatus, 0);

    // A driver killed outright leaves its socket behind: the next one takes
    // it over.
    ASSERT_EQ(kill(first.Pid(), SIGKILL), 0);
    first.Stop();
    ASSERT_EQ(access(first.DevicePath().c_str(), F_OK), 0);
    EXPECT_TRUE(first.Start()) << first.Stderr();
    EXPECT_EQ(CRawClient(first.DevicePath()).Attach(pty.Slave()).nStatus, 0);
}

TEST(DriverLifecycleTest, ExplainsWhyItCannotStart) {
    CDriverProcess driver;
    EXPECT_FALSE(driver.Start({}, NOBODY)); // the directory is root's
    EXPECT_EQ(driver.ExitStatus(), 1);
    EXPECT_NE(driver.Stderr().find("Permission denied"), std::string::npos) << driver.Stderr();

    const struct {
        std::vector<std::string> args;
        int nExitStatus;
        std::string strSays;
    } cases[] = {
        {{"--replay", driver.Dir() + "/missing.rec"}, 1, "missing.rec"},
        {{"--replay", driver.Dir()}, 1, "Is a directory"},
        {{"--replay", driver.WriteFile("text", {'h', 'e', 'l', 'l', 'o'})}, 1, "not a record file"},
        {{"--queue-limit", "10"}, 2, "--queue-limit 10"},
        {{"--queue-limit", "10"}, 2, "at least 1024"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(driver.Start(c.args));
        EXPECT_EQ(driver.ExitStatus(), c.nExitStatus);
        EXPECT_NE(driver.Stderr().find(c.strSays), std::string::npos) << driver.Stderr();
        EXPECT_NE(access(driver.DevicePath().c_str(), F_OK), 0);
    }
}

} // namespace
