#include "CDriverProcess.h"
#include "CPty.h"
#include "CStandInDriver.h"
#include "CaptureSourceText.h"
#include "Process.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

using namespace Vantry;
using Records::Bytes;
using Records::Stamped;

namespace {

constexpr std::uint64_t NOON = 1700049600ull * 1000000000ull; // 2023-11-15 12:00:00 UTC

const std::vector<Bytes> SESSION = {
    Stamped(Records::Make(CAPTURE_PORT_OPENED), NOON),
    Stamped(Records::Baud(9600), NOON + 1000),
    Stamped(Records::Written(Bytes{'A', 'T', '\r'}), NOON + 2000000),
    Stamped(Records::Read("0123456789ABCDEFxyz"), NOON + 3500000),
    Stamped(Records::LineControl(0, 2, 8), NOON + 4000000),
    Stamped(Records::Make(CAPTURE_PORT_CONTROL, {CONTROL_BREAK, 0, 0, 0, 250, 0, 0, 0}),
            NOON + 5000000),
    Stamped(Records::Make(CAPTURE_PORT_CLOSED), NOON + 999999999),
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
    // The replayed records name no process: its columns stay blank.
    const std::string strNone(24, ' ');
    const std::string strExpected =
        "12:00:00.000000 " + strNone + "* Port opened\n" + "12:00:00.000001 " + strNone +
        "* Baud rate set to 9600\n" + "12:00:00.002000 " + strNone +
        "> 41 54 0D                                           AT.\n" + "12:00:00.003500 " +
        strNone + "< 30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46    0123456789ABCDEF\n" +
        "12:00:00.003500 " + strNone +
        "< 78 79 7A                                           xyz\n" + "12:00:00.004000 " +
        strNone + "* StopBits: 1 stop bit, Parity: Even parity, WordLength: 8\n" +
        "12:00:00.005000 " + strNone + "* Break for 250 ms\n" + "12:00:00.999999 " + strNone +
        "* Port closed\n";
    // A name with a slash is a path, from the current directory.
    const std::string strName = pty.Slave().substr(pty.Slave().rfind('/') + 1);
    CChild monitor(
        {"/bin/sh", "-c", "cd /dev/pts && exec " WIRELET_CLI_PATH " monitor ./" + strName});
    ASSERT_TRUE(monitor.WaitOut([&](const auto& strOut) {
        return strOut.size() >= strExpected.size();
    })) << monitor.Err();
    const auto result = monitor.Finish(SIGINT);
    EXPECT_EQ(result.nExitStatus, 0);
    EXPECT_EQ(result.strOut, strExpected);
    EXPECT_NE(result.strErr.find("attached to /dev/pts/"), std::string::npos) << result.strErr;
}

// The file holds every record as the driver numbered it, down to what the
// driver still held when the capture was stopped (the detach would discard
// it without a word): it is stopped as soon as it is attached.
TEST_F(CliMonitorTest, CaptureWritesEveryRecordAsTheDriverNumberedIt) {
    std::vector<Bytes> replayed = SESSION;
    replayed.insert(replayed.end(), 3000, Records::Read("x"));
    driver.Stop();
    ASSERT_TRUE(driver.StartReplay(replayed)) << driver.Stderr();
    // DataLength is the payload's length for every type, whatever was replayed.
    std::vector<Bytes> numbered;
    for (const auto& record : replayed) {
        numbered.push_back(Stamped(record, GetU64(record.data()), 0, numbered.size() + 1));
        PutU32(numbered.back().data() + RECORD_DATA_LENGTH_OFFSET,
               record.size() - RECORD_DATA_OFFSET);
    }
    const Bytes expected = Records::File(numbered);
    const std::string strFile = driver.WriteFile("old.rec", {'o', 'l', 'd'});
    umask(022);
    CChild capture({WIRELET_CLI_PATH, "capture", pty.Slave(), "-o", strFile});
    for (int i = 0; i < 5000 && ReadText(strFile) == "old"; ++i)
        usleep(1000); // replaced once the capture is attached
    const auto result = capture.Finish(SIGINT);
    EXPECT_EQ(result.nExitStatus, 0) << result.strErr;
    const std::string strCaptured = ReadText(strFile);
    EXPECT_TRUE(strCaptured == std::string(expected.begin(), expected.end()))
        << strCaptured.size() << " bytes instead of " << expected.size();
    EXPECT_EQ(std::filesystem::status(strFile).permissions(), std::filesystem::perms(0644));
}

// Records the page cache took but the disk could not (a loop device on a
// full tmpfs, in a mount namespace of the capture's own) fail the capture.
TEST_F(CliMonitorTest, ACaptureThatDidNotReachTheDiskFails) {
    driver.Stop();
    ASSERT_TRUE(driver.StartReplay(std::vector<Bytes>(2000, Records::Read(std::string(4000, 'x')))))
        << driver.Stderr();
    const std::string strDir = driver.Dir();
    CChild capture({"/usr/bin/unshare", "--mount", "/bin/sh", "-ec",
                    "mkdir $0/disk $0/mnt && mount -t tmpfs -o size=2m none $0/disk && "
                    "truncate -s 64M $0/disk/image && mkfs.ext2 -q -F $0/disk/image && "
                    "mount -o loop $0/disk/image $0/mnt && exec $1 capture $2 -o $0/mnt/capture",
                    strDir, WIRELET_CLI_PATH, pty.Slave()});
    // Its file, as its own mount namespace sees it.
    const std::string strFile =
        "/proc/" + std::to_string(capture.Pid()) + "/root" + strDir + "/mnt/capture";
    const auto written = [&] {
        std::error_code error;
        const auto nSize = std::filesystem::file_size(strFile, error);
        return error ? 0 : nSize;
    };
    for (int i = 0; i < 10000 && written() < 8'000'000; ++i)
        usleep(1000);
    const auto result = capture.Finish(SIGINT);
    EXPECT_EQ(result.nExitStatus, 1);
    EXPECT_NE(result.strErr.find("/mnt/capture: "), std::string::npos) << result.strErr;
}

// A driver that is gone is not named; odd text cannot act on a terminal.
TEST_F(CliMonitorTest, VersionNamesHowTheDriverCaptures) {
    EXPECT_EQ(RunProcess({WIRELET_CLI_PATH, "--version"}).strOut,
              "wirelet-cli " WIRELET_VERSION "\ndriver: replaying a record file\n");
    driver.Stop();
    EXPECT_EQ(RunProcess({WIRELET_CLI_PATH, "--version"}).strOut,
              "wirelet-cli " WIRELET_VERSION "\n");
    EXPECT_EQ(CaptureSourceText::Describe("ebpf raw_tp"), "driver: capturing with eBPF (raw_tp)");
    EXPECT_EQ(CaptureSourceText::Describe("ebpf \x1b[2J\nx"),
              "driver: capturing with eBPF (?[2J?x)");
}

TEST_F(CliMonitorTest, DriverErrorsAreSaidInPlainWords) {
    const auto expectFailure = [](const std::vector<std::string>& args,
                                  const std::string& strWords) {
        const auto result = RunProcess(args);
        EXPECT_EQ(result.nExitStatus, 1);
        EXPECT_NE(result.strErr.find(strWords), std::string::npos) << result.strErr;
    };
    // A failed capture leaves the file it was to write as it was, and
    // nothing beside it.
    const std::string strKept = driver.WriteFile("kept.rec", {'k', 'e', 'p', 't'});
    const auto expectKept = [&] {
        EXPECT_EQ(ReadText(strKept), "kept");
        for (const auto& entry : std::filesystem::directory_iterator(driver.Dir()))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".kept")) << entry.path();
    };
    expectFailure({WIRELET_CLI_PATH, "monitor", "null"}, "/dev/null is not a terminal device");
    expectFailure({WIRELET_CLI_PATH, "capture", "/dev/no-such-port", "-o", strKept},
                  "/dev/no-such-port does not exist");
    expectKept();
    // Lost traffic is never silent: the driver stopped under a running monitor.
    CChild monitor({WIRELET_CLI_PATH, "monitor", pty.Slave()});
    ASSERT_TRUE(monitor.WaitOut([](const auto& strOut) { return strOut.ends_with("closed\n"); }));
    driver.Stop();
    const auto gone = monitor.Finish();
    EXPECT_NE(gone.strErr.find("capture stopped: the capture driver went away"), std::string::npos);
    expectFailure({WIRELET_CLI_PATH, "capture", pty.Slave(), "-o", strKept},
                  "no capture driver is running");
    expectKept();
    // A driver on its way out detaches the handles first, and a killed one
    // leaves a socket nothing listens on.
    const Bytes ATTACHED = CStandInDriver::Answer(0, CRawClient::Handle(1));
    for (const auto& answers : {std::vector<Bytes>{ATTACHED, CStandInDriver::Answer(EBADF, {})},
                                std::vector<Bytes>{ATTACHED}}) {
        unlink(driver.DevicePath().c_str());
        CStandInDriver standIn(driver.DevicePath(), answers);
        expectFailure({WIRELET_CLI_PATH, "monitor", pty.Slave()}, "the capture driver went away");
    }
}

} // namespace
