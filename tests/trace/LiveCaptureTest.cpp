// The live capture through a real vantry.sys where the driver's own limits
// show: a node created again, and a call larger than the queue.
#include "CDriverProcess.h"
#include "PrivateNamespace.h"
#include "TraceHarness.h"

#include "VantryProtocol.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>

using namespace Expect;

namespace {

struct LiveCaptureTest : ::testing::Test {
    CDriverProcess driver;
};

// Unplugging and plugging an adapter back, as a pty shows it: the node is
// removed and made again under the same name and number.
TEST_F(LiveCaptureTest, ANodeMadeAgainIsWatchedAfresh) {
    if (!InPrivateNamespace())
        return;
    ASSERT_TRUE(driver.Start()) << driver.Stderr();
    const CPrivateDevpts devpts(driver.Dir() + "/pts");
    std::string strPort, strAgain;
    CScopedFd master = devpts.Open(strPort);
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwFirst = client.AttachOk(strPort);
    master.Reset();
    master = devpts.Open(strAgain);
    ASSERT_EQ(strAgain, strPort);
    CChild app(AppOn(strPort, "say opened hear write again close"));
    ASSERT_FALSE(app.WaitLine("opened").empty()) << app.Err();
    const std::uint32_t dwSecond = client.AttachOk(strPort);
    app.Send("go\n");
    ASSERT_EQ(app.Wait(), 0);
    const pid_t p = app.Pid();
    const std::vector<CRecord> expected = {Baud(p, 38400), Line(p, 0, 0, 8), Written(p, "again"),
                                           Closed(p)};
    EXPECT_EQ(RecordsUntil(client, dwSecond, Closed(p)), expected);
    EXPECT_EQ(RecordsUntil(client, dwFirst, Closed(p)), expected);
}

// What the queue cannot hold is never copied out of the application: the
// records carry what fits, a notice counts the rest.
TEST_F(LiveCaptureTest, ACallLargerThanTheQueueIsCutAndTheRestCounted) {
    constexpr std::size_t QUEUE = 256 * 1024, WRITTEN = 1024 * 1024;
    ASSERT_TRUE(driver.Start({"--queue-limit", std::to_string(QUEUE)})) << driver.Stderr();
    CPty pty;
    CChild app(AppOn(pty.Slave(), "say opened hear big " + std::to_string(WRITTEN) + " close"));
    ASSERT_FALSE(app.WaitLine("opened").empty()) << app.Err();
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    app.Send("go\n");
    ASSERT_TRUE(pty.WaitReceived(WRITTEN));
    ASSERT_EQ(app.Wait(), 0);
    const pid_t p = app.Pid();
    std::size_t nCaptured = 0, nNotCaptured = 0;
    for (const auto& record : RecordsUntil(client, dwHandle, Closed(p))) {
        if (record.nType == Vantry::CAPTURE_DATA_WRITTEN) {
            nCaptured += record.strData.size();
        } else if (record.nType == Vantry::CAPTURE_DRIVER_NOTICE) {
            const auto* pData = reinterpret_cast<const std::uint8_t*>(record.strData.data());
            EXPECT_EQ(Vantry::GetU32(pData), Vantry::NOTICE_BYTES_NOT_CAPTURED);
            nNotCaptured += Vantry::GetU32(pData + 4);
        }
    }
    EXPECT_GT(nCaptured, QUEUE / 2);
    EXPECT_LE(nCaptured, QUEUE);
    EXPECT_EQ(nCaptured + nNotCaptured, WRITTEN);
}

// A process that cannot stop (waiting in vfork for its child) holds up
// neither the driver nor another client's capture of another port.
TEST_F(LiveCaptureTest, AProcessThatCannotStopHoldsUpNoOtherCapture) {
    ASSERT_TRUE(driver.Start()) << driver.Stderr();
    CPty stuckPort, otherPort;
    CChild stuck(AppOn(stuckPort.Slave(), "say opened vfork-sleep 60 close"));
    ASSERT_FALSE(stuck.WaitLine("opened").empty()) << stuck.Err();
    auto state = [&] {
        std::ifstream stat("/proc/" + std::to_string(stuck.Pid()) + "/stat");
        std::string strStat;
        std::getline(stat, strStat);
        return strStat.substr(strStat.rfind(')') + 2, 1);
    };
    ASSERT_TRUE(Eventually([&] { return state() == "D"; }));
    CChild other(AppOn(otherPort.Slave(), "say opened hear write hello close"));
    ASSERT_FALSE(other.WaitLine("opened").empty()) << other.Err();

    CRawClient stuckClient(driver.DevicePath()), otherClient(driver.DevicePath());
    stuckClient.Send(CRawClient::Request(Vantry::IOCTL_VANTRY_ATTACH, 4,
                                         *Vantry::EncodeDevicePath(stuckPort.Slave())));
    otherClient.Send(CRawClient::Request(Vantry::IOCTL_VANTRY_ATTACH, 4,
                                         *Vantry::EncodeDevicePath(otherPort.Slave())));
    ASSERT_TRUE(Eventually([&] { return otherClient.HasAnswer(); }));
    const auto answer = otherClient.Receive();
    ASSERT_EQ(answer.nStatus, 0);
    other.Send("go\n");
    const pid_t p = other.Pid();
    EXPECT_EQ(
        RecordsUntil(otherClient, Vantry::GetU32(answer.output.data()), Closed(p)),
        (std::vector<CRecord>{Baud(p, 38400), Line(p, 0, 0, 8), Written(p, "hello"), Closed(p)}));
    EXPECT_TRUE(Eventually([&] { return stuckClient.HasAnswer(); }));
    EXPECT_EQ(state(), "D"); // all that while it was stuck
    stuck.Kill(SIGKILL);     // and its child with it
}

} // namespace
