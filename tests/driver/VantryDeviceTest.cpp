// The client side against a real driver: stop events and closing under
// readers. Reading records and how errors read are CliMonitorTest's.
#include "CDriverProcess.h"
#include "CPty.h"
#include "CRawClient.h"
#include "CRecordReader.h"
#include "CVantryDevice.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <thread>

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

TEST_F(VantryDeviceTest, ClosingTheDeviceFailsEveryPendingRequestAndDetaches) {
    StartWith({});
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

// No real driver reports a record larger than the protocol allows; a
// stand-in does, and the client asks for no more than the largest record.
TEST_F(VantryDeviceTest, AReportedSizeBeyondTheLargestRecordIsNotAllocated) {
    const std::string strPath = driver.Dir() + "/stand-in";
    CScopedFd hListen(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    const sockaddr_un address = UnixAddress(strPath);
    ASSERT_EQ(bind(hListen.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(hListen.Get(), 4), 0);
    std::uint32_t dwCapacity = 0;
    std::thread standIn([&] {
        CScopedFd hControl(accept(hListen.Get(), nullptr, nullptr));
        CScopedFd hReader(accept(hListen.Get(), nullptr, nullptr));
        std::uint8_t request[64], answer[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
        recv(hReader.Get(), request, sizeof request, 0); // the wait
        send(hReader.Get(), answer, 8, 0);
        recv(hReader.Get(), request, sizeof request, 0); // the fetch
        dwCapacity = GetU32(request + 4);
        send(hReader.Get(), answer, 4, 0);
    });
    ASSERT_EQ(device.Open(strPath), 0);
    CCaptureRecord record;
    EXPECT_EQ(device.ReadRecord(CAttachHandle(1), stop, record), 0);
    standIn.join();
    EXPECT_EQ(dwCapacity, MAX_RECORD_SIZE);
}

// A driver from before the batched fetch answers it ENOTTY: the reader goes
// on with a wait and a fetch per record.
TEST_F(VantryDeviceTest, AReaderOfADriverWithoutBatchesFetchesRecordByRecord) {
    const std::string strPath = driver.Dir() + "/stand-in";
    CScopedFd hListen(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    const sockaddr_un address = UnixAddress(strPath);
    ASSERT_EQ(bind(hListen.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(hListen.Get(), 4), 0);
    std::thread standIn([&] {
        std::uint8_t request[64], answer[24] = {ENOTTY}, size[8] = {0, 0, 0, 0, 20};
        CScopedFd hControl(accept(hListen.Get(), nullptr, nullptr));
        CScopedFd hBatch(accept(hListen.Get(), nullptr, nullptr));
        recv(hBatch.Get(), request, sizeof request, 0);
        send(hBatch.Get(), answer, 4, 0);
        CScopedFd hReader(accept(hListen.Get(), nullptr, nullptr));
        recv(hReader.Get(), request, sizeof request, 0); // the wait
        send(hReader.Get(), size, 8, 0);
        recv(hReader.Get(), request, sizeof request, 0); // the fetch
        answer[0] = 0;
        send(hReader.Get(), answer, 24, 0);
    });
    ASSERT_EQ(device.Open(strPath), 0);
    CRecordReader reader(device, CAttachHandle(1));
    CCaptureRecord record;
    EXPECT_EQ(reader.Next(stop, record), 0);
    standIn.join();
    EXPECT_EQ(record.Size(), 20u);
}

} // namespace
