// Who may attach, and whose handles work: checked against the peer's real
// credentials, with children that become `nobody`.
#include "CDriverProcess.h"
#include "CPty.h"
#include "CRawClient.h"
#include "Records.h"
#include "RunAs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>

namespace {

struct DriverAccessTest : ::testing::Test {
    CDriverProcess driver;
    CPty pty;

    void SetUp() override {
        ASSERT_TRUE(driver.StartReplay({Records::Read("x")})) << driver.Stderr();
    }
    // What `nobody` with these groups gets for an attach to the pty.
    int AttachAsNobody(const std::vector<gid_t>& groups = {}) {
        return RunAs(NOBODY, groups, [&] {
            CRawClient client(driver.DevicePath());
            return client.Attach(pty.Slave()).nStatus;
        });
    }
    void SetMode(uid_t uid, gid_t gid, mode_t mode) {
        ASSERT_EQ(chown(pty.Slave().c_str(), uid, gid), 0);
        ASSERT_EQ(chmod(pty.Slave().c_str(), mode), 0);
    }
};

TEST_F(DriverAccessTest, AttachingNeedsReadAndWriteAccessForTheCallersUidOrGroups) {
    constexpr gid_t GROUP = 4321;
    SetMode(0, GROUP, 0660);
    EXPECT_EQ(AttachAsNobody(), EACCES);
    EXPECT_EQ(AttachAsNobody({GROUP}), 0); // a supplementary group counts
    EXPECT_EQ(AttachAsNobody({1, GROUP, 2}), 0);
    SetMode(0, GROUP, 0640);
    EXPECT_EQ(AttachAsNobody({GROUP}), EACCES); // read alone is not enough
    SetMode(NOBODY, 0, 0600);
    EXPECT_EQ(AttachAsNobody(), 0);
    SetMode(NOBODY, 0, 0066); // the owner's bits apply to the owner, not the others'
    EXPECT_EQ(AttachAsNobody(), EACCES);
    SetMode(0, 0, 0606);
    EXPECT_EQ(AttachAsNobody(), 0);
    SetMode(0, 0, 0000);
    CRawClient root(driver.DevicePath());
    EXPECT_EQ(root.Attach(pty.Slave()).nStatus, 0);
}

TEST_F(DriverAccessTest, AHandleWorksOnEveryConnectionOfItsUserAndNoOtherUsers) {
    SetMode(NOBODY, 0, 0600);
    CRawClient root(driver.DevicePath());
    const std::uint32_t dwRoot = root.AttachOk(pty.Slave());
    const int nResult = RunAs(NOBODY, {}, [&] {
        CRawClient mine(driver.DevicePath()), other(driver.DevicePath());
        const std::uint32_t dwMine = mine.AttachOk(pty.Slave());
        if (other.Wait(dwRoot).nStatus != EBADF || other.Fetch(dwRoot, 1024).nStatus != EBADF ||
            other.Detach(dwRoot) != EBADF)
            return 1;
        if (other.Next(dwMine).size() != Vantry::RECORD_DATA_OFFSET + 1 ||
            other.Detach(dwMine) != 0)
            return 2;
        return 0;
    });
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(root.Wait(dwRoot).nStatus, 0); // untouched by the other user's tries
    EXPECT_EQ(root.Detach(dwRoot), 0);
}

} // namespace
