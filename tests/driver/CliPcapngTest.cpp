#include "CDriverProcess.h"
#include "CPty.h"
#include "Process.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <mutex>
#include <thread>

using namespace Vantry;
using Records::Bytes;

namespace {

const std::vector<Bytes> SESSION = {
    Records::Make(CAPTURE_PORT_OPENED),
    Records::Written(Bytes{'A', 'T', '\r'}),
    Records::Read("OK"),
};

// The block types of a pcapng stream, in order; "?" where it is cut.
std::string BlockTypes(const std::string& strBytes) {
    std::string strTypes;
    for (std::size_t n = 0; n + 8 <= strBytes.size();) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(strBytes.data() + n);
        strTypes += std::to_string(GetU32(p) & 0xFF) + " ";
        n += GetU32(p + 4) ? GetU32(p + 4) : strBytes.size();
    }
    return strTypes;
}

struct CliPcapngTest : ::testing::Test {
    CDriverProcess driver;
    CPty pty;

    void SetUp() override {
        ASSERT_TRUE(driver.StartReplay(SESSION)) << driver.Stderr();
        driver.UseForThisProcess();
    }
};

// sshdump's reader leaving while the port is silent: the capture notices
// without a write failing, detaches and ends as if stopped.
TEST_F(CliPcapngTest, CaptureToAPipeEndsQuietlyWhenItsReaderGoes) {
    // The reader takes the section header's first bytes and leaves once
    // every record was long written.
    CChild capture({"/bin/bash", "-c",
                    "set -o pipefail; " WIRELET_CLI_PATH
                    " capture $0 --format pcapng -o - | (head -c 24; sleep 0.5)",
                    pty.Slave()});
    EXPECT_EQ(capture.Wait(), 0);
    const auto result = capture.Finish(SIGKILL);
    EXPECT_EQ(result.strErr, "");
    EXPECT_EQ(BlockTypes(result.strOut), "10 ");
}

// As Wireshark runs it: the port list's ports by id, then a capture into a
// fifo that SIGTERM ends; every record is a packet by then.
TEST_F(CliPcapngTest, ExtcapListsThePortListAndCapturesIntoAFifoUntilStopped) {
    const std::string strMap = driver.Dir() + "/ports";
    std::ofstream(strMap) << "COM1=" << pty.Slave() << "\n";
    const std::string strId = "wirelet-pts-" + pty.Slave().substr(9);
    const auto extcap = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/env", "WIRELET_SERIALCOMM=" + strMap,
                                   WIRELET_EXTCAP_PATH, "--extcap-interface", strId});
        return args;
    };
    EXPECT_EQ(RunProcess(extcap({"--extcap-interfaces"})).strOut,
              "extcap {version=" WIRELET_VERSION "}{help=https://wirelet.dev/}\n"
              "interface {value=" +
                  strId + "}{display=wirelet: " + pty.Slave() + "}\n");
    EXPECT_EQ(RunProcess(extcap({"--extcap-dlts"})).strOut,
              "dlt {number=147}{name=USER0}{display=wirelet records}\n");
    EXPECT_NE(
        RunProcess(extcap({"--extcap-config"}))
            .strOut.find("{call=--port}{display=Port}{type=string}{default=" + pty.Slave() + "}"),
        std::string::npos);

    const std::string strFifo = driver.Dir() + "/fifo";
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
    std::mutex mutex;
    std::string strRead;
    std::thread reader([&] {
        std::ifstream fifo(strFifo, std::ios::binary);
        for (char ch; fifo.get(ch);) {
            std::lock_guard lock(mutex);
            strRead += ch;
        }
    });
    CChild capture(extcap({"--capture", "--fifo", strFifo, "--queue-limit", "100"}));
    // Each packet reaches the fifo as its record comes, not at the end.
    const auto read = [&] {
        std::lock_guard lock(mutex);
        return BlockTypes(strRead);
    };
    for (int i = 0; i < 5000 && read() != "10 1 6 6 6 "; ++i)
        usleep(1000);
    EXPECT_EQ(read(), "10 1 6 6 6 ");
    const auto result = capture.Finish(SIGTERM);
    reader.join();
    EXPECT_EQ(result.nExitStatus, 0) << result.strErr;
    EXPECT_EQ(read(), "10 1 6 6 6 ");
}

} // namespace
