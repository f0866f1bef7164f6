// The live capture end to end: a real vantry.sys traces a real application
// while wirelet-cli attaches to the port through the driver device. What
// the records hold is TraceTest's; here, that they get through.
#include "CDriverProcess.h"
#include "TraceHarness.h"

#include <gtest/gtest.h>

#include <signal.h>

namespace {

// The process whose thread traces nPid (TracerPid names the thread).
pid_t TracingProcessOf(pid_t nPid) {
    const pid_t nTracer = TracerOf(nPid);
    return nTracer > 0 ? ProcScanner::ThreadGroupOf(nTracer) : nTracer;
}

TEST(LiveDriverTest, MonitorShowsEventsAndItsDetachOrTheDriverStopLetsTheApplicationGo) {
    CDriverProcess driver;
    ASSERT_TRUE(driver.Start()) << driver.Stderr();
    driver.UseForThisProcess();
    CPty line;
    CChild app(AppOn(line.Slave(),
                     "set 9600 8N1 say opened hear write AT\\x0d say wrote hear write untraced "
                     "read 3 write after close"));
    ASSERT_FALSE(app.WaitLine("opened").empty());
    const pid_t p = app.Pid();
    CChild monitor({WIRELET_CLI_PATH, "monitor", line.Slave()});
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
    EXPECT_TRUE(line.WaitReceived(11));

    // Attached again, in its blocking read: the driver's stop detaches it.
    CChild capture({WIRELET_CLI_PATH, "capture", line.Slave(), "-o", "-"});
    ASSERT_TRUE(Eventually([&] { return TracingProcessOf(p) == driver.Pid(); }));
    EXPECT_EQ(driver.Stop(), 0);
    EXPECT_EQ(TracerOf(p), 0);
    line.Send("abc");
    EXPECT_EQ(app.WaitLine("read:"), "read:abc");
    EXPECT_EQ(app.Wait(), 0);
    EXPECT_TRUE(line.WaitReceived(16));
    EXPECT_EQ(line.Received(), "AT\runtracedafter");
}

} // namespace
