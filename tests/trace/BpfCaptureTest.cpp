// What only the eBPF source captures: nobody is stopped, so a late opener
// loses nothing, an fd that came without an open is seen, and the
// application never meets a tracer.
#include "CDriverProcess.h"
#include "CaptureSource.h"
#include "TraceHarness.h"

#include "VantryProtocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

using namespace Expect;

namespace {

class BpfCaptureTest : public testing::Test {
protected:
    void SetUp() override {
        if (!BpfRefusal().empty())
            GTEST_SKIP() << "no eBPF here: " << BpfRefusal();
        ASSERT_TRUE(m_driver.Start({"--source", "ebpf"})) << m_driver.Stderr();
    }
    void Attach() {
        m_client.emplace(m_driver.DevicePath());
        m_dwHandle = m_client->AttachOk(m_pty.Slave());
    }
    std::vector<CRecord> Until(const CRecord& last) {
        return RecordsUntil(*m_client, m_dwHandle, last);
    }

    CDriverProcess m_driver;
    CPty m_pty;
    std::optional<CRawClient> m_client;
    std::uint32_t m_dwHandle = 0;
};

TEST_F(BpfCaptureTest, EveryLateOpenersFirstWriteIsCaptured) {
    Attach();
    constexpr int OPENERS = 100;
    for (int i = 0; i < OPENERS; ++i)
        CChild({"/bin/sh", "-c", "printf AT > " + m_pty.Slave()}).Wait();
    std::vector<CRecord> records;
    FetchUntil(*m_client, m_dwHandle, records, [&](const auto& got) {
        return std::count_if(got.begin(), got.end(), [](const CRecord& r) {
                   return r.nType == Vantry::CAPTURE_PORT_CLOSED;
               }) == OPENERS;
    });
    std::map<std::uint32_t, std::vector<CRecord>> byOpener;
    for (const CRecord& record : records)
        byOpener[record.dwPid].push_back(record);
    EXPECT_EQ(byOpener.size(), std::size_t(OPENERS));
    for (const auto& [dwPid, got] : byOpener) {
        const pid_t p = pid_t(dwPid);
        EXPECT_EQ(got, (std::vector<CRecord>{Opened(p), Baud(p, 38400), Line(p, 0, 0, 8),
                                             Written(p, "AT"), Closed(p)}));
    }
}

TEST_F(BpfCaptureTest, AnFdPassedOverASocketOrTakenWithPidfdGetfdIsCaptured) {
    Attach();
    CChild app(AppOn(m_pty.Slave(), "pass via-socket take via-pidfd close"));
    const std::string strPassed = app.WaitLine("passed:"), strTaken = app.WaitLine("taken:");
    ASSERT_EQ(app.Wait(), 0) << app.Err();
    const pid_t p = app.Pid(), c1 = std::stoi(strPassed.substr(7)),
                c2 = std::stoi(strTaken.substr(6));
    EXPECT_EQ(Until(Closed(p)), (std::vector<CRecord>{Opened(p), Baud(p, 38400), Line(p, 0, 0, 8),
                                                      Written(c1, "via-socket"),
                                                      Written(c2, "via-pidfd"), Closed(p)}));
}

TEST_F(BpfCaptureTest, AnApplicationWaitingOnThePortSeesNoTracerAndNoInterruption) {
    CChild app(AppOn(m_pty.Slave(), "set 9600 8N1 say waiting epoll read 2 close"));
    ASSERT_FALSE(app.WaitLine("waiting").empty()) << app.Err();
    ASSERT_TRUE(Eventually([&] {
        return ReadText("/proc/" + std::to_string(app.Pid()) + "/wchan") == "do_epoll_wait";
    }));
    Attach();
    EXPECT_EQ(TracerOf(app.Pid()), 0);
    m_pty.Send("hi");
    EXPECT_EQ(app.WaitLine("epoll:"), "epoll:ready");
    EXPECT_EQ(app.WaitLine("read:"), "read:hi");
    ASSERT_EQ(app.Wait(), 0) << app.Err();
    const pid_t p = app.Pid();
    EXPECT_EQ(Until(Closed(p)),
              (std::vector<CRecord>{Baud(p, 9600), Line(p, 0, 0, 8), Read(p, "hi"), Closed(p)}));
}

// A process that lets go of two ports at once: by its end, by an exec that
// closes both, by one close_range.
TEST_F(BpfCaptureTest, EveryPortReleasedAtOnceIsClosed) {
    CPty second;
    Attach();
    const std::uint32_t dwSecond = m_client->AttachOk(second.Slave());
    const std::string strOpen = "import os\nflags = os.O_RDWR | os.O_NOCTTY | os.O_CLOEXEC\n"
                                "a = os.open('" +
                                m_pty.Slave() +
                                "', flags)\n"
                                "b = os.open('" +
                                second.Slave() + "', flags)\n";
    for (const char* pszRelease :
         {"os._exit(0)", "os.execv('/bin/true', ['true'])", "os.closerange(a, b + 1)"}) {
        CChild app({"/usr/bin/python3", "-c", strOpen + pszRelease});
        ASSERT_EQ(app.Wait(), 0) << app.Err();
        const pid_t p = app.Pid();
        const std::vector<CRecord> expected{Opened(p), Baud(p, 38400), Line(p, 0, 0, 8), Closed(p)};
        EXPECT_EQ(Until(Closed(p)), expected) << pszRelease;
        EXPECT_EQ(RecordsUntil(*m_client, dwSecond, Closed(p)), expected) << pszRelease;
    }
}

} // namespace
