#include "Process.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <string>

using Records::Bytes;

namespace {

std::string AsString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

CProcessResult Render(const Bytes& file, std::vector<std::string> args) {
    args.insert(args.begin(), {WIRELET_CLI_PATH, "render", "-"});
    return RunProcess(args, AsString(file));
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

    const auto totals = Render(SAMPLE, {"--totals"});
    EXPECT_EQ(totals.strOut, "recv 3\nsend 3\n");
}

// Each says what is wrong, and where: the offset is where the record's size
// field starts.
TEST(CliRenderTest, DamagedOrForeignFilesPrintNothingAndExitTwo) {
    Bytes truncated = SAMPLE;
    truncated.pop_back();
    Bytes dangling = SAMPLE;
    dangling.push_back(7);
    Bytes shortBaud = Records::File({Records::Read(Bytes{1}), Bytes(27, 0)});
    shortBaud[shortBaud.size() - 27 + 20] = Vantry::CAPTURE_BAUD_RATE;
    const std::string strText = "#!/bin/sh\necho this is a script\n";
    const struct {
        Bytes file;
        std::string strPath, strSays;
    } cases[] = {
        {truncated, "-", "record 4 at byte 91 runs past"},
        {dangling, "-", "record 5 at byte 122 runs past"},
        {shortBaud, "-", "record 2 at byte 29 is malformed"},
        {Bytes(strText.begin(), strText.end()), "-", "not a record file"},
        {{1, 0}, "-", "not a record file"},
        {{}, "/nonexistent/file", "No such file"},
        {{}, "/tmp", "Is a directory"},
    };
    for (const auto& c : cases) {
        const auto result =
            RunProcess({WIRELET_CLI_PATH, "render", c.strPath, "--totals"}, AsString(c.file));
        EXPECT_EQ(result.nExitStatus, 2) << c.strSays;
        EXPECT_EQ(result.strOut, "");
        EXPECT_NE(result.strErr.find(c.strSays), std::string::npos) << result.strErr;
    }
    EXPECT_EQ(Render(SAMPLE, {"--pane", "both"}).nExitStatus, 2);
}

TEST(CliRenderTest, HelpAfterEveryCommandPrintsItsHelp) {
    for (const std::string strCommand : {"render", "monitor", "capture"}) {
        const auto result = RunProcess({WIRELET_CLI_PATH, strCommand, "x", "--help"});
        EXPECT_EQ(result.nExitStatus, 0);
        EXPECT_TRUE(result.strOut.starts_with("Usage:\n  " + strCommand + " ")) << result.strOut;
    }
}

} // namespace
