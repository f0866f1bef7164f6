// What only the eBPF source sees as it happens: a process that lets go of
// two ports at once, by its end, by an exec that closes both, by one
// close_range, closes each.
#include "CDriverProcess.h"
#include "CaptureSource.h"
#include "TraceHarness.h"

#include <gtest/gtest.h>

using namespace Expect;

namespace {

TEST(BpfCaptureTest, EveryPortReleasedAtOnceIsClosed) {
    if (!BpfRefusal().empty())
        GTEST_SKIP() << "no eBPF here: " << BpfRefusal();
    CDriverProcess driver;
    ASSERT_TRUE(driver.Start({"--source", "ebpf"})) << driver.Stderr();
    CPty first, second;
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwFirst = client.AttachOk(first.Slave()),
                        dwSecond = client.AttachOk(second.Slave());
    const std::string strOpen = "import os\nflags = os.O_RDWR | os.O_NOCTTY | os.O_CLOEXEC\na = "
                                "os.open('" +
                                first.Slave() + "', flags)\nb = os.open('" + second.Slave() +
                                "', flags)\n";
    for (const char* pszRelease :
         {"os._exit(0)", "os.execv('/bin/true', ['true'])", "os.closerange(a, b + 1)"}) {
        CChild app({"/usr/bin/python3", "-c", strOpen + pszRelease});
        ASSERT_EQ(app.Wait(), 0) << app.Err();
        const pid_t p = app.Pid();
        const std::vector<CRecord> expected{Opened(p), Baud(p, 38400), Line(p, 0, 0, 8), Closed(p)};
        EXPECT_EQ(RecordsUntil(client, dwFirst, Closed(p)), expected) << pszRelease;
        EXPECT_EQ(RecordsUntil(client, dwSecond, Closed(p)), expected) << pszRelease;
    }
}

} // namespace
