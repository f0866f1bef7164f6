#include "CModem.h"
#include "Process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string OK = "\r\nOK\r\n";
const std::string ERROR = "\r\nERROR\r\n";

TEST(DemoModemTest, AnswersEachCommandOnceItsLineEnds) {
    const std::string strLong(CModem::MAX_COMMAND + 1, 'A');
    const struct {
        std::vector<std::string> pieces;
        std::string strAnswer;
    } CASES[] = {
        {{"AT\r"}, OK},
        {{"a", "t", "i", "\r\n"}, "\r\n" + std::string(CModem::IDENTITY) + "\r\n" + OK},
        {{"AT+GMM\rAT\r"}, "\r\nDM-1200\r\n" + OK + OK},
        {{"AT+XYZ\r", "\r\n", "AT"}, ERROR},
        // An overflowing line is dropped whole; the next one counts again.
        {{strLong, "\rAT\r"}, ERROR + OK},
    };
    for (const auto& c : CASES) {
        CModem modem;
        std::string strAnswer;
        for (const std::string& strPiece : c.pieces)
            strAnswer += modem.Receive(strPiece);
        EXPECT_EQ(strAnswer, c.strAnswer) << c.pieces.front();
    }
}

// As a shell says it: the command's own status, or 128 and the signal that
// killed it. A SIGTERM sent to the demo alone is passed on to the command.
TEST(DemoRunTest, EndsWithTheStatusOfItsCommand) {
    for (const auto& [pszScript, nStatus] : {std::pair{"exit 3", 3}, {"kill -KILL $$", 137}})
        EXPECT_EQ(RunProcess({WIRELET_DEMO_PATH, "--", "/bin/sh", "-c", pszScript}).nExitStatus,
                  nStatus)
            << pszScript;
    CChild demo({WIRELET_DEMO_PATH, "--", "/bin/sh", "-c",
                 "trap 'exit 7' TERM; echo ready; while :; do sleep 0.1; done"});
    ASSERT_EQ(demo.WaitLine("ready"), "ready");
    EXPECT_EQ(demo.Finish(SIGTERM).nExitStatus, 7);
}

} // namespace
