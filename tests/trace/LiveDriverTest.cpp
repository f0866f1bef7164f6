// The live capture end to end: a real vantry.sys traces a real application
// while wirelet-cli attaches to the port through the driver device.
#include "CDriverProcess.h"
#include "ProcScanner.h"
#include "TraceHarness.h"

#include "VantryProtocol.h"

#include <gtest/gtest.h>

#include <signal.h>

using namespace Expect;

namespace {

// The process whose thread traces nPid (TracerPid names the thread).
pid_t TracingProcessOf(pid_t nPid) {
    const pid_t nTracer = TracerOf(nPid);
    return nTracer > 0 ? ProcScanner::ThreadGroupOf(nTracer) : nTracer;
}

std::size_t FileSize(const std::vector<CRecord>& records) {
    std::size_t nSize = 0;
    for (const auto& record : records)
        nSize += 4 + Vantry::RECORD_DATA_OFFSET + record.strData.size();
    return nSize;
}

struct LiveDriverTest : testing::Test {
    CDriverProcess driver;
    CPtyLine line;

    void SetUp() override {
        ASSERT_TRUE(driver.Start()) << driver.Stderr();
        driver.UseForThisProcess();
    }
    std::vector<std::string> App(std::vector<std::string> steps) const {
        steps.insert(steps.begin(), {TraceAppPath(), "open", line.SlavePath()});
        return steps;
    }
};

TEST_F(LiveDriverTest, CaptureRecordsWhatTheApplicationDoes) {
    CChild app(App(
        {"say", "opened", "hear", "set", "9600", "8N1", "write", "hello", "read", "5", "close"}));
    ASSERT_FALSE(app.WaitLine("opened").empty());
    const pid_t p = app.Pid();
    CChild capture({WIRELET_CLI_PATH, "capture", line.SlavePath(), "-o", "-"});
    // The settings of the open port arrive once the attach has traced it.
    const std::vector<CRecord> attached{Baud(p, 38400), Line(p, 0, 0, 8)};
    ASSERT_TRUE(capture.WaitOut([&](const auto& strOut) {
        return strOut.size() >= FileSize(attached);
    })) << capture.Err();
    app.Send("go\n");
    line.Send("world");
    ASSERT_EQ(app.WaitLine("read:"), "read:world");
    ASSERT_EQ(app.Wait(), 0);
    const std::vector<CRecord> expected{Baud(p, 38400),   Line(p, 0, 0, 8),    Baud(p, 9600),
                                        Line(p, 0, 0, 8), Written(p, "hello"), Read(p, "world"),
                                        Closed(p)};
    ASSERT_TRUE(
        capture.WaitOut([&](const auto& strOut) { return strOut.size() >= FileSize(expected); }));
    capture.Kill(SIGINT);
    EXPECT_EQ(capture.Wait(), 0) << capture.Err();
    EXPECT_EQ(ParseRecords(capture.Out()), expected);
}

TEST_F(LiveDriverTest, MonitorShowsEventsAndItsDetachLetsTheApplicationGo) {
    CChild app(App({"say", "opened", "hear", "write", "AT\\x0d", "say", "wrote", "hear", "write",
                    "untraced", "close"}));
    ASSERT_FALSE(app.WaitLine("opened").empty());
    const pid_t p = app.Pid();
    CChild monitor({WIRELET_CLI_PATH, "monitor", line.SlavePath()});
    auto bShows = [&](const std::string& strText) {
        return monitor.WaitOut(
            [&](const std::string& strOut) { return strOut.find(strText) != std::string::npos; });
    };
    ASSERT_TRUE(bShows("* StopBits: 1 stop bit, Parity: No parity, WordLength: 8\n"));
    app.Send("go\n");
    ASSERT_TRUE(bShows("> 41 54 0D ")) << monitor.Out();
    EXPECT_EQ(TracingProcessOf(p), driver.Pid());
    // Ctrl+C detaches the last attachment: the application runs on untraced.
    monitor.Kill(SIGINT);
    EXPECT_EQ(monitor.Wait(), 0);
    EXPECT_TRUE(Eventually([&] { return TracerOf(p) == 0; }));
    app.Send("go\n");
    EXPECT_EQ(app.Wait(), 0);
    EXPECT_TRUE(line.WaitReceived(11));
    EXPECT_EQ(line.Received(), "AT\runtraced");
}

TEST_F(LiveDriverTest, DriverStopDetachesEveryTracedProcess) {
    CChild app(
        App({"set", "9600", "8N1", "say", "opened", "read", "3", "write", "after", "close"}));
    ASSERT_FALSE(app.WaitLine("opened").empty());
    const pid_t p = app.Pid();
    CChild capture({WIRELET_CLI_PATH, "capture", line.SlavePath(), "-o", "-"});
    ASSERT_TRUE(Eventually([&] { return TracingProcessOf(p) == driver.Pid(); }));
    EXPECT_EQ(driver.Stop(), 0);
    EXPECT_EQ(TracerOf(p), 0);
    line.Send("abc");
    EXPECT_EQ(app.WaitLine("read:"), "read:abc");
    EXPECT_EQ(app.Wait(), 0);
    EXPECT_TRUE(line.WaitReceived(5));
    EXPECT_EQ(line.Received(), "after");
}

} // namespace
