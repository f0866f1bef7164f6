// Holders that got the port's fd without opening it, over a unix socket or
// with pidfd_getfd: eBPF sees their calls as they come; no open tells the
// ptrace source of them, so it has to look for them, and say that what they
// did before it found them may be missing.
#include "CDriverProcess.h"
#include "CaptureSource.h"
#include "PrivateNamespace.h"
#include "TraceHarness.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace Expect;

namespace {

struct HolderLookTest : testing::Test, CCaptureSource {
    void SetUp() override { SKIP_WITHOUT_SOURCE(); }
};

TEST_P(HolderLookTest, AReceiverAndATakerOfThePortsFdAreCaptured) {
    if (!InPrivateNamespace())
        return;
    const struct {
        const char* pszSteps; // the child waits for a tracer so long (not eBPF's), then writes
        const char* pszChild;
        const char* pszText;
    } cases[] = {
        // Looked for on the tracer's ticks once the fd went over the socket.
        {"await 150 pass via-socket", "passed:", "via-socket"},
        // Nothing tells of a take: found by the look at a low rate.
        {"await 3000 take via-pidfd", "taken:", "via-pidfd"},
    };
    for (const auto& c : cases) {
        CDriverProcess driver;
        CPty pty;
        ASSERT_TRUE(driver.Start(Args())) << driver.Stderr();
        const std::string strSteps = IsBpf() ? std::strchr(c.pszSteps + 6, ' ') + 1 : c.pszSteps;
        CChild app(AppOn(pty.Slave(), "say opened hear " + strSteps + " close"));
        ASSERT_FALSE(app.WaitLine("opened").empty()) << app.Err();
        CRawClient client(driver.DevicePath());
        const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
        const pid_t p = app.Pid();
        RecordsUntil(client, dwHandle, Line(p, 0, 0, 8));
        app.Send("go\n");
        const std::string strChild = app.WaitLine(c.pszChild);
        ASSERT_EQ(app.Wait(), 0) << app.Err();
        const pid_t n = std::stoi(strChild.substr(std::strlen(c.pszChild)));
        std::vector<CRecord> expected = {Written(n, c.pszText), Closed(p)};
        if (!IsBpf())
            expected.insert(expected.begin(), {TracedLate(n), Baud(n, 38400), Line(n, 0, 0, 8)});
        EXPECT_EQ(RecordsUntil(client, dwHandle, Closed(p)), expected) << c.pszSteps;
    }
}

CAPTURE_SOURCES(HolderLookTest);

} // namespace
