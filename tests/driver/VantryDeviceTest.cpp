// The client side against a real driver: stop events and closing under
// readers. Reading records and how errors read are CliMonitorTest's.
#include "CDriverProcess.h"
#include "CPty.h"
#include "CVantryDevice.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <future>

using namespace Vantry;

namespace {

struct VantryDeviceTest : ::testing::Test {
    CDriverProcess driver;
    CPty pty;
    CVantryDevice device;
    CStopEvent stop;

    void StartWith(const std::vector<Records::Bytes>& records) {
        ASSERT_TRUE(driver.StartReplay(records)) << driver.Stderr();
        ASSERT_EQ(device.Open(driver.DevicePath()), 0);
    }
    // A wait on a thread of its own, as a monitor's reader does it.
    std::future<int> WaitInThread(CAttachHandle hAttach) {
        return std::async(std::launch::async, [this, hAttach] {
            std::uint32_t dwSize = 0;
            return device.Wait(hAttach, stop, dwSize);
        });
    }
};

TEST_F(VantryDeviceTest, AStopEventEndsAWaitAndTheAttachmentLivesOn) {
    StartWith({});
    CAttachHandle hAttach;
    ASSERT_EQ(device.Attach(pty.Slave(), hAttach), 0);
    auto waiting = WaitInThread(hAttach);
    stop.Set();
    EXPECT_EQ(waiting.get(), ECANCELED);
    stop.Reset();
    // The cancelled wait took its connection with it, not the attachment.
    auto again = WaitInThread(hAttach);
    EXPECT_EQ(device.Detach(hAttach), 0);
    EXPECT_EQ(again.get(), EBADF);
    EXPECT_EQ(device.Detach(hAttach), EBADF);
}

TEST_F(VantryDeviceTest, ClosingTheDeviceFailsEveryPendingRequestAndDetaches) {
    StartWith({});
    CAttachHandle hFirst, hSecond;
    ASSERT_EQ(device.Attach(pty.Slave(), hFirst), 0);
    ASSERT_EQ(device.Attach(pty.Slave(), hSecond), 0);
    auto first = WaitInThread(hFirst);
    auto second = WaitInThread(hSecond);
    device.Close();
    EXPECT_EQ(first.get(), EBADF);
    EXPECT_EQ(second.get(), EBADF);
    EXPECT_FALSE(device.IsOpen());

    CAttachHandle hNone;
    EXPECT_EQ(device.Attach(pty.Slave(), hNone), EBADF);
    ASSERT_EQ(device.Open(driver.DevicePath()), 0);
    EXPECT_EQ(device.Detach(hFirst), EBADF); // went with the connection that attached
}

TEST_F(VantryDeviceTest, ADriverThatGoesAwayEndsTheReaders) {
    StartWith({Records::Read("a")});
    CAttachHandle hAttach;
    ASSERT_EQ(device.Attach(pty.Slave(), hAttach), 0);
    CCaptureRecord record;
    ASSERT_EQ(device.ReadRecord(hAttach, stop, record), 0); // the wait reuses its connection
    auto waiting = WaitInThread(hAttach);
    EXPECT_EQ(driver.Stop(), 0); // SIGTERM: a clean exit that takes the device along
    EXPECT_NE(access(driver.DevicePath().c_str(), F_OK), 0);
    EXPECT_EQ(waiting.get(), EPIPE);
    EXPECT_EQ(device.Detach(hAttach), EPIPE);
}

} // namespace
