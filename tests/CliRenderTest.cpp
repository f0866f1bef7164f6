#include "Process.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <string>

using Records::Bytes;

namespace {

CProcessResult Render(const Bytes& file, std::vector<std::string> args, std::string strPath = "-") {
    args.insert(args.begin(), {WIRELET_CLI_PATH, "render", strPath});
    return RunProcess(args, std::string(file.begin(), file.end()));
}

const Bytes SAMPLE = Records::File({
    Records::Make(Vantry::CAPTURE_PORT_OPENED),
    Records::Baud(115200),
    Records::Written(Bytes{'A', 'T', '\r'}),
    Records::Read(Bytes{'O', 'K', 0xE9}),
});

TEST(CliRenderTest, PrintsPanesTotalsAndExportBytes) {
    const auto recv = Render(SAMPLE, {"--pane", "recv"});
    EXPECT_EQ(recv.nExitStatus, 0) << recv.strErr;
    EXPECT_EQ(recv.strOut, "\r\nPort opened\r\n\r\nBaud rate set to 115200\r\n"
                           "4F\t4B\tE9\t\t\t\t\t\t\t\t\t\t\t\t\t\tOK\xC3\xA9\r\n");

    const auto send = Render(SAMPLE, {"--pane", "send", "--export"});
    EXPECT_EQ(send.nExitStatus, 0) << send.strErr;
    const std::string text = "\r\nPort opened\r\n\r\nBaud rate set to 115200\r\n"
                             "41\t54\t0D\t\t\t\t\t\t\t\t\t\t\t\t\t\tAT.\r\n";
    std::string utf16;
    for (const char c : text)
        utf16 += std::string{c, '\0'};
    EXPECT_EQ(send.strOut, utf16);

    EXPECT_EQ(Render(SAMPLE, {"--totals"}).strOut, "recv 3\nsend 3\n");
}

// A record that names a process, one that runs over a line, and a second
// opener, as the timeline exports them; a cut file stops after its whole
// records.
TEST(CliRenderTest, TimelinePrintsEachRecordInColumnsAsTextOrCsv) {
    setenv("TZ", "UTC", 1);
    constexpr std::uint64_t NOON = 1700049600ull * 1000000000ull;
    Bytes process(Vantry::PROCESS_PATH_OFFSET, 0);
    process[0] = 10;
    const std::string strCommand = "minicom,1";
    std::copy(strCommand.begin(), strCommand.end(), process.begin() + 8);
    Bytes file = Records::File({
        Records::Stamped(Records::Make(Vantry::CAPTURE_PROCESS, process), NOON, 10),
        Records::Stamped(Records::Read("0123456789ABCDEF\"x"), NOON + 3500, 10),
        Records::Make(12), // a type of a later driver: skipped
        Records::Stamped(Records::Make(Vantry::CAPTURE_PORT_OPENED), NOON + 4000000, 20),
    });
    const std::string strOpened = "Port opened; pid 20 opened the port while pid 10 (minicom,1) "
                                  "holds it";
    const std::string strText =
        "12:00:00.000000  *       10 minicom,1        Process 10 (minicom,1), uid 0\n"
        "12:00:00.000003  <       10 minicom,1        30 31 32 33 34 35 36 37 38 39 41 42 43 44 "
        "45 46  0123456789ABCDEF\n" +
        std::string(45, ' ') + "22 78" + std::string(44, ' ') + "\"x\n" +
        "12:00:00.004000  *       20                  " + strOpened + "\n";
    EXPECT_EQ(Render(file, {"--timeline"}).strOut, strText);
    EXPECT_EQ(Render(file, {"--timeline", "--csv"}).strOut,
              "time,direction,pid,command,hex,text\r\n"
              "12:00:00.000000,*,10,\"minicom,1\",,\"Process 10 (minicom,1), uid 0\"\r\n"
              "12:00:00.000003,<,10,\"minicom,1\",30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46 "
              "22 78,\"0123456789ABCDEF\"\"x\"\r\n"
              "12:00:00.004000,*,20,,,\"" +
                  strOpened + "\"\r\n");
    file.pop_back();
    const auto cut = Render(file, {"--timeline"});
    EXPECT_EQ(cut.nExitStatus, 2);
    EXPECT_EQ(cut.strOut, strText.substr(0, strText.rfind("12:00:00.004")));
}

// Each says what is wrong, and where: the offset is where the record's size
// field starts.
TEST(CliRenderTest, DamagedOrForeignFilesPrintNothingAndExitTwo) {
    Bytes truncated = SAMPLE;
    truncated.pop_back();
    Bytes dangling = SAMPLE;
    dangling.push_back(7);
    const Bytes shortBaud = Records::File(
        {Records::Read(Bytes{1}), Records::Make(Vantry::CAPTURE_BAUD_RATE, Bytes(3))});
    // Larger than any record the driver makes, whole or cut by the end.
    const Bytes oversized = Records::File({Records::Read(Bytes{1}), Bytes(70000, 0)});
    Bytes cutHuge = SAMPLE;
    cutHuge.insert(cutHuge.end(), {0xFF, 0xFF, 0xFF, 0xFF, 1, 2});
    const std::string strText = "#!/bin/sh\necho this is a script\n";
    const struct {
        Bytes file;
        std::string strPath, strSays;
    } cases[] = {
        {truncated, "-", "record 4 at byte 91 runs past"},
        {dangling, "-", "record 5 at byte 122 runs past"},
        {shortBaud, "-", "record 2 at byte 29 is malformed"},
        {oversized, "-", "record 2 at byte 29 is malformed: its size, 70000 bytes"},
        {cutHuge, "-", "record 5 at byte 122 runs past"},
        {{}, "/dev/zero", "record 1 at byte 0 is malformed: 0 bytes cannot hold an event type"},
        {Bytes(strText.begin(), strText.end()), "-", "not a record file"},
        {{1, 0}, "-", "not a record file"},
        {{}, "/nonexistent/file", "No such file"},
        {{}, "/tmp", "Is a directory"},
    };
    for (const auto& c : cases) {
        const auto result = Render(c.file, {"--totals"}, c.strPath);
        EXPECT_EQ(result.nExitStatus, 2) << c.strSays;
        EXPECT_EQ(result.strOut, "");
        EXPECT_NE(result.strErr.find(c.strSays), std::string::npos) << result.strErr;
    }
    EXPECT_EQ(Render(SAMPLE, {"--pane", "both"}).nExitStatus, 2);
}

// Records of every size straddle the reads of a stream; counts and offsets
// hold past them.
TEST(CliRenderTest, LongFilesAreReadAsAStream) {
    std::vector<Bytes> records;
    std::size_t nPayload = 0;
    for (std::size_t n = 1; nPayload < 1000000; n = n * 7 % 65536 + 1) {
        records.push_back(Records::Read(Bytes(n, 'x')));
        nPayload += n;
    }
    Bytes file = Records::File(records);
    EXPECT_EQ(Render(file, {"--totals"}).strOut, "recv " + std::to_string(nPayload) + "\nsend 0\n");
    const std::string strSays = "record " + std::to_string(records.size() + 1) + " at byte " +
                                std::to_string(file.size()) + " is malformed";
    file.insert(file.end(), {3, 0, 0, 0, 0, 0, 0});
    const auto result = Render(file, {"--totals"});
    EXPECT_NE(result.strErr.find(strSays), std::string::npos) << result.strErr;
}

TEST(CliRenderTest, HelpAfterEveryCommandPrintsItsHelp) {
    for (const std::string strCommand : {"render", "monitor", "capture", "convert"}) {
        const auto result = RunProcess({WIRELET_CLI_PATH, strCommand, "x", "--help"});
        EXPECT_EQ(result.nExitStatus, 0);
        EXPECT_TRUE(result.strOut.starts_with("Usage:\n  " + strCommand + " ")) << result.strOut;
    }
}

} // namespace
