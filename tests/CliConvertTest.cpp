#include "Process.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

using Records::Bytes;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t NOON = 1700049600ull * 1000000000ull;

// A Wireshark tool, found on PATH.
CProcessResult Wireshark(std::vector<std::string> args) {
    args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\""});
    return RunProcess(args);
}

struct CliConvertTest : ::testing::Test {
    const fs::path dir = fs::path(::testing::TempDir()) / ("convert" + std::to_string(getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    std::string Write(const std::string& strName, const Bytes& bytes) {
        std::ofstream(dir / strName, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return (dir / strName).string();
    }
};

// The message render gives, after the tool's name; nothing is left in the
// folder but the input and the existing output as it was.
TEST_F(CliConvertTest, ADamagedFileIsRefusedAsRenderRefusesItAndWritesNothing) {
    Bytes truncated = Records::File({Records::Read("AT"), Records::Read("OK")});
    truncated.pop_back();
    const Bytes shortBaud = Records::File({Records::Make(Vantry::CAPTURE_BAUD_RATE, Bytes(3))});
    for (const Bytes& file : {truncated, shortBaud, Bytes{'#', '!', '/', 'b', 'i', 'n'}}) {
        const std::string strIn = Write("in.rec", file);
        const std::string strOld = Write("old.pcapng", {'o', 'l', 'd'});
        const auto render = RunProcess({WIRELET_CLI_PATH, "render", strIn, "--totals"});
        for (const std::string& strOut : {strOld, (dir / "new.pcapng").string()}) {
            const auto convert = RunProcess({WIRELET_CLI_PATH, "convert", strIn, "-o", strOut});
            EXPECT_EQ(convert.nExitStatus, 2);
            EXPECT_EQ(convert.strErr.substr(convert.strErr.find(':')),
                      render.strErr.substr(render.strErr.find(':')));
        }
        EXPECT_EQ(ReadText(strOld), "old");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2);
    }
}

// Read back by the real tshark, without any dissector of ours: the packet
// bytes are the head and payload of docs/pcapng.md.
TEST_F(CliConvertTest, TsharkReadsTheInterfaceHostDirectionsProcessesAndBytes) {
    if (system("tshark -v >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark is not installed: the converted file is not read back";
    const Bytes notice = {4, 0, 0, 0, 9, 0, 0, 0};
    const std::string strIn = Write(
        "in.rec",
        Records::File({
            Records::Stamped(Records::Process(10, "minicom", "/usr/bin/minicom"), NOON, 10, 1),
            Records::Stamped(Records::Written(Bytes{'A', 'T', '\r'}), NOON + 2, 10, 2),
            Records::Stamped(Records::Read("OK"), NOON + 3000, 10, 3),
            Records::Stamped(Records::Make(Vantry::CAPTURE_DRIVER_NOTICE, notice), NOON + 4, 0, 4),
            Records::Stamped(Records::Make(Vantry::CAPTURE_PORT_OPENED), NOON + 5, 11, 5),
        }));
    const std::string strOut = (dir / "out.pcapng").string();
    ASSERT_EQ(RunProcess({WIRELET_CLI_PATH, "convert", strIn, "-o", strOut, "--port", "ttyUSB3"})
                  .nExitStatus,
              0);
    const auto fields = Wireshark({"tshark", "-r", strOut, "-T", "fields", "-E", "separator=|",
                                   "-e", "frame.interface_name", "-e", "frame.time_epoch", "-e",
                                   "frame.packet_flags_direction", "-e", "frame.comment"});
    EXPECT_EQ(fields.strOut, "/dev/ttyUSB3|1700049600.000000000|0x00000000|pid 10 minicom\n"
                             "/dev/ttyUSB3|1700049600.000000002|0x00000002|pid 10 minicom\n"
                             "/dev/ttyUSB3|1700049600.000003000|0x00000001|pid 10 minicom\n"
                             "/dev/ttyUSB3|1700049600.000000004|0x00000000|pid 0\n"
                             "/dev/ttyUSB3|1700049600.000000005|0x00000000|pid 11\n")
        << fields.strErr;

    char szHost[HOST_NAME_MAX + 1] = {};
    gethostname(szHost, HOST_NAME_MAX);
    const std::string strInfo = Wireshark({"capinfos", strOut}).strOut;
    EXPECT_NE(strInfo.find("Capture comment:     host " + std::string(szHost) + "\n"),
              std::string::npos)
        << strInfo;
    EXPECT_NE(strInfo.find("Capture application: wirelet-cli 1.0\n"), std::string::npos);

    // The hex dump of the second packet, the written bytes.
    const std::string strDump =
        Wireshark({"tshark", "-r", strOut, "-Y", "frame.number==2", "-x"}).strOut;
    // Its lines: a 4-digit offset, two spaces, up to 16 hex pairs, the text.
    std::string strHex, strLine;
    for (std::istringstream lines(strDump); std::getline(lines, strLine);) {
        if (strLine.size() < 8 || strLine.substr(4, 2) != "  ")
            continue;
        std::istringstream pairs(strLine.substr(6, 47));
        for (std::string strPair; pairs >> strPair;)
            strHex += strPair + " ";
    }
    EXPECT_EQ(strHex, "01 02 20 00 02 00 00 00 0a 00 00 00 6d 69 6e 69 "
                      "63 6f 6d 00 00 00 00 00 00 00 00 00 03 00 00 00 41 54 0d ");
}

} // namespace
