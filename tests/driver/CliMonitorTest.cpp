// wirelet-cli monitor and capture against a real driver.
#include "CDriverProcess.h"
#include "CPty.h"
#include "Process.h"
#include "Records.h"
#include "RunAs.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>

using namespace Vantry;
using Records::Bytes;

namespace {

Bytes At(Bytes record, std::uint64_t qwTime) {
    PutU64(record.data() + RECORD_TIME_OFFSET, qwTime);
    return record;
}

constexpr std::uint64_t NOON = 1700049600ull * 1000000000ull; // 2023-11-15 12:00:00 UTC

const std::vector<Bytes> SESSION = {
    At(Records::Make(CAPTURE_PORT_OPENED), NOON),
    At(Records::Baud(9600), NOON + 1000),
    At(Records::Written(Bytes{'A', 'T', '\r'}), NOON + 2000000),
    At(Records::Read("0123456789ABCDEFxyz"), NOON + 3500000),
    At(Records::LineControl(0, 2, 8), NOON + 4000000),
    At(Records::Make(CAPTURE_PORT_CLOSED), NOON + 999999999),
};

struct CliMonitorTest : ::testing::Test {
    CDriverProcess driver;
    CPty pty;

    void SetUp() override {
        setenv("TZ", "UTC", 1);
        ASSERT_TRUE(driver.StartReplay(SESSION)) << driver.Stderr();
        driver.UseForThisProcess();
    }
};

TEST_F(CliMonitorTest, MonitorPrintsEachEventAsThePanesShowItAndCtrlCDetaches) {
    const std::string strExpected =
        "12:00:00.000000 * Port opened\n"
        "12:00:00.000001 * Baud rate set to 9600\n"
        "12:00:00.002000 > 41 54 0D                                           AT.\n"
        "12:00:00.003500 < 30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46    0123456789ABCDEF\n"
        "12:00:00.003500 < 78 79 7A                                           xyz\n"
        "12:00:00.004000 * StopBits: 1 stop bit, Parity: Even parity, WordLength: 8\n"
        "12:00:00.999999 * Port closed\n";
    CRunningProcess monitor({WIRELET_CLI_PATH, "monitor", pty.Slave()});
    ASSERT_TRUE(monitor.ReadAtLeast(strExpected.size())) << monitor.Out();
    const auto result = monitor.Finish(SIGINT);
    EXPECT_EQ(result.nExitStatus, 0);
    EXPECT_EQ(result.strOut, strExpected);
    EXPECT_EQ(result.strErr, "");
}

TEST_F(CliMonitorTest, CaptureWritesTheRecordFileThatRenderShows) {
    std::size_t nFileSize = 0;
    for (const auto& record : SESSION)
        nFileSize += 4 + record.size();
    CRunningProcess capture({WIRELET_CLI_PATH, "capture", pty.Slave(), "-o", "-"});
    ASSERT_TRUE(capture.ReadAtLeast(nFileSize));
    const auto result = capture.Finish(SIGINT);
    EXPECT_EQ(result.nExitStatus, 0) << result.strErr;
    ASSERT_EQ(result.strOut.size(), nFileSize);

    // The records as replayed, numbered by the driver.
    const std::string strOriginal = [] {
        const Bytes file = Records::File(SESSION);
        return std::string(file.begin(), file.end());
    }();
    for (const char* pszPane : {"recv", "send"}) {
        const auto original =
            RunProcess({WIRELET_CLI_PATH, "render", "-", "--pane", pszPane}, strOriginal);
        const auto captured =
            RunProcess({WIRELET_CLI_PATH, "render", "-", "--pane", pszPane}, result.strOut);
        EXPECT_EQ(captured.nExitStatus, 0) << captured.strErr;
        EXPECT_EQ(captured.strOut, original.strOut);
    }
    EXPECT_EQ(GetU32(reinterpret_cast<const std::uint8_t*>(result.strOut.data()) + 4 +
                     RECORD_SEQUENCE_OFFSET),
              1u);
}

TEST_F(CliMonitorTest, DriverErrorsAreSaidInPlainWords) {
    const auto expectFailure = [](const std::vector<std::string>& args,
                                  const std::string& strWords) {
        const auto result = RunProcess(args);
        EXPECT_EQ(result.nExitStatus, 1);
        EXPECT_NE(result.strErr.find(strWords), std::string::npos) << result.strErr;
        return result.nExitStatus == 1 && result.strErr.find(strWords) != std::string::npos;
    };
    expectFailure({WIRELET_CLI_PATH, "monitor", "null"}, "/dev/null is not a terminal device");
    expectFailure({WIRELET_CLI_PATH, "capture", "/dev/no-such-port", "-o", driver.Dir() + "/x.rec"},
                  "/dev/no-such-port does not exist");
    ASSERT_EQ(chmod(pty.Slave().c_str(), 0600), 0);
    EXPECT_EQ(RunAs(NOBODY, {},
                    [&] {
                        return expectFailure({WIRELET_CLI_PATH, "monitor", pty.Slave()},
                                             "no rights to")
                                   ? 0
                                   : 1;
                    }),
              0);
    driver.Stop();
    expectFailure({WIRELET_CLI_PATH, "monitor", pty.Slave()}, "no capture driver is running");
}

} // namespace
