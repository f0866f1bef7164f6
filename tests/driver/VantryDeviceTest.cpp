// The client side against a real driver: stop events and closing under
// readers. Reading records and how errors read are CliMonitorTest's.
#include "CDriverProcess.h"
#include "CPty.h"
#include "CRawClient.h"
#include "CRecordReader.h"
#include "CStandInDriver.h"
#include "CVantryDevice.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <signal.h>
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

    // A wait on a thread of its own, as a monitor's reader does it.
    std::future<int> WaitInThread(CAttachHandle hAttach) {
        return std::async(std::launch::async, [this, hAttach] {
            std::uint32_t dwSize = 0;
            return device.Wait(hAttach, stop, dwSize);
        });
    }
};

TEST_F(VantryDeviceTest, ClosingTheDeviceFailsEveryPendingRequestAndDetaches) {
    ASSERT_TRUE(driver.StartReplay({})) << driver.Stderr();
    ASSERT_EQ(device.Open(driver.DevicePath()), 0);
    CAttachHandle hFirst, hSecond;
    ASSERT_EQ(device.Attach(pty.Slave(), hFirst), 0);
    ASSERT_EQ(device.Attach(pty.Slave(), hSecond), 0);
    auto first = WaitInThread(hFirst);
    auto second = WaitInThread(hSecond);
    // A stopped driver answers nothing: the close alone must end the waits.
    ASSERT_EQ(first.wait_for(100ms), std::future_status::timeout);
    kill(driver.Pid(), SIGSTOP);
    device.Close();
    EXPECT_EQ(first.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(second.wait_for(5s), std::future_status::ready);
    kill(driver.Pid(), SIGCONT);
    EXPECT_EQ(first.get(), EBADF);
    EXPECT_EQ(second.get(), EBADF);

    CAttachHandle hNone;
    EXPECT_EQ(device.Attach(pty.Slave(), hNone), EBADF);
    ASSERT_EQ(device.Open(driver.DevicePath()), 0);
    EXPECT_EQ(device.Detach(hFirst), EBADF); // went with the connection that attached
}

// What a broken driver answers is an error, and never read past; a driver
// from before the batched fetch answers it ENOTTY, and the reader goes on
// with a wait and a fetch per record. No buffer is larger than the protocol
// allows, whatever size is claimed.
TEST_F(VantryDeviceTest, BrokenAnswersAreErrorsAndADriverWithoutBatchesIsReadRecordByRecord) {
    const auto Answer = CStandInDriver::Answer;
    const auto size = CRawClient::Handle; // a u32, as a wait answers it
    const Bytes cut = Records::File({Bytes(24, 1), Bytes(40, 2)});
    const Bytes NO_BATCHES = Answer(ENOTTY, {});
    const struct {
        const char* pszWhat;
        std::vector<Bytes> answers;
        int nError;
        std::uint32_t dwLastCapacity;
    } cases[] = {
        {"record by record", {NO_BATCHES, Answer(0, size(20)), Answer(0, Bytes(20))}, 0, 20},
        {"a short record", {NO_BATCHES, Answer(0, size(40)), Answer(0, Bytes(39))}, EPROTO, 40},
        {"a size beyond the largest record",
         {NO_BATCHES, Answer(0, size(0xFFFFFFFF)), Answer(0, Bytes(20))},
         EPROTO,
         MAX_RECORD_SIZE},
        {"a short size", {NO_BATCHES, Answer(0, Bytes(3))}, EPROTO, 4},
        {"a batch cut inside a record",
         {Answer(0, Bytes(cut.begin(), cut.end() - 1))},
         EPROTO,
         MAX_BATCH_SIZE},
        {"an empty batch", {Answer(0, {})}, EPROTO, MAX_BATCH_SIZE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        const std::string strPath = driver.Dir() + "/stand-in";
        unlink(strPath.c_str());
        CStandInDriver standIn(strPath, c.answers);
        ASSERT_EQ(device.Open(strPath), 0);
        CRecordReader reader(device, CAttachHandle(1));
        CCaptureRecord record;
        EXPECT_EQ(reader.Next(stop, record), c.nError);
        EXPECT_EQ(record.Size(), c.nError == 0 ? 20u : 0u);
        EXPECT_EQ(standIn.Capacities().size(), c.answers.size());
        EXPECT_EQ(standIn.Capacities().back(), c.dwLastCapacity);
        device.Close();
    }
}

} // namespace
