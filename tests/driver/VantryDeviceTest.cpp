// The client side against a real driver: stop events, closing under
// readers, and the errors a monitor sees.
#include "CDriverProcess.h"
#include "CPty.h"
#include "CVantryDevice.h"
#include "Records.h"

#include <gtest/gtest.h>

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

TEST_F(VantryDeviceTest, ReadsRecordsOfAPortNamedByPathAndOpensFromTheEnvironment) {
    StartWith({Records::Make(CAPTURE_PORT_OPENED), Records::Read("hello")});
    CAttachHandle hAttach;
    ASSERT_EQ(device.Attach(pty.Slave(), hAttach), 0);
    EXPECT_TRUE(hAttach.IsValid());
    CCaptureRecord record;
    ASSERT_EQ(device.ReadRecord(hAttach, stop, record), 0);
    EXPECT_EQ(record.View().EventType(), CAPTURE_PORT_OPENED);
    ASSERT_EQ(device.ReadRecord(hAttach, stop, record), 0);
    EXPECT_EQ(record.Size(), RECORD_DATA_OFFSET + 5);
    EXPECT_EQ(record.View().GetStamp()->dwSequence, 2u);

    CAttachHandle hNone;
    EXPECT_EQ(device.Attach("no-such-port-name", hNone), ENOENT); // /dev/no-such-port-name
    EXPECT_EQ(device.Attach("null", hNone), ENOTTY);
    EXPECT_EQ(device.Detach(hAttach), 0);
    EXPECT_EQ(device.Detach(hAttach), EBADF);

    driver.UseForThisProcess();
    CVantryDevice fromEnvironment;
    EXPECT_EQ(fromEnvironment.Open(), 0);
    fromEnvironment.Close();
    EXPECT_EQ(fromEnvironment.Attach(pty.Slave(), hNone), EBADF);
    EXPECT_EQ(CVantryDevice().Open(driver.Dir() + "/nothing"), ENOENT);
}

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
    EXPECT_EQ(driver.Stop(), 0);
    EXPECT_EQ(waiting.get(), EPIPE);
    EXPECT_EQ(device.Detach(hAttach), EPIPE);
}

} // namespace
