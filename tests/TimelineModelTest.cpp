#include "CPortPresence.h"
#include "CTimelineModel.h"
#include "ControlText.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <asm/ioctls.h>

#include <string>
#include <vector>

using namespace Vantry;
using Records::Bytes;
using Records::Process;
using Records::Stamped;

namespace {

Bytes Pair(std::uint32_t dwFirst, std::uint32_t dwSecond) {
    Bytes payload(8);
    PutU32(payload.data(), dwFirst);
    PutU32(payload.data() + 4, dwSecond);
    return payload;
}

Bytes By(std::uint32_t dwPid, const Bytes& record, std::uint64_t qwTime = 0) {
    return Stamped(record, qwTime, dwPid);
}

Bytes Written(const std::string& strText) {
    return Records::Written(Bytes(strText.begin(), strText.end()));
}

std::optional<std::string> Words(const Bytes& record) {
    return ControlText::Describe(CRecordView(record));
}

TEST(ControlTextTest, SaysEachControlRecordInWords) {
    const struct {
        Bytes record;
        const char* pszWords;
    } cases[] = {
        {Process(1234, "minicom", "/usr/bin/minicom"),
         "Process 1234 (minicom), uid 1000: /usr/bin/minicom"},
        {Process(7, "a\x1b[2J", ""), "Process 7 (a?[2J), uid 1000"},
        {Records::Make(CAPTURE_MODEM_LINES, Pair(MODEM_SET, LINE_DTR | LINE_RTS)),
         "Modem lines set: DTR RTS"},
        {Records::Make(CAPTURE_MODEM_LINES, Pair(MODEM_SET, 0)), "Modem lines set: none"},
        {Records::Make(CAPTURE_MODEM_LINES, Pair(MODEM_LOWER, LINE_LOOP | LINE_RI)),
         "Modem lines lowered: RI LOOP"},
        {Records::Make(CAPTURE_PORT_CONTROL, Pair(CONTROL_BREAK, 250)), "Break for 250 ms"},
        {Records::Make(CAPTURE_PORT_CONTROL, Pair(CONTROL_FLUSH, 2)), "Flush input and output"},
        {Records::Make(CAPTURE_PORT_CONTROL, Pair(CONTROL_FLOW, 2)), "Stop character sent"},
        {Records::Make(CAPTURE_FLOW_CONTROL, {FLOW_RTS_CTS | FLOW_XON_IN, 1, 0}),
         "Flow control: RTS/CTS, XON/XOFF in; VMIN 1, VTIME 0"},
        {Records::Make(CAPTURE_FLOW_CONTROL, {0, 0, 5}), "Flow control: none; VMIN 0, VTIME 5"},
        {Records::Make(CAPTURE_CALL_FAILED, Pair(0x402C542B, 22)),
         "Settings call TCSETS2 failed: Invalid argument"},
        {Records::Make(CAPTURE_CALL_FAILED, Pair(TIOCMBIS, 5)),
         "Control call TIOCMBIS failed: Input/output error"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Words(c.record), c.pszWords);
    EXPECT_EQ(Words(Records::Make(CAPTURE_MODEM_LINES, Bytes(7))), std::nullopt);
    EXPECT_EQ(Words(Records::Baud(9600)), std::nullopt);
}

// minicom (10) holds the port from before the capture; stty (20) opens it
// and changes it; a close of no process is the holder's only when alone.
TEST(PortPresenceTest, NamesSecondOpenersAndChangesByOthersOncePerProcess) {
    CPortPresence presence;
    const auto follow = [&](const Bytes& record) { return presence.Follow(CRecordView(record)); };
    EXPECT_EQ(follow(Process(10, "minicom", "/usr/bin/minicom")), std::nullopt);
    EXPECT_EQ(follow(By(10, Records::Baud(115200))), std::nullopt);
    EXPECT_EQ(follow(By(10, Records::Read("x"))), std::nullopt);
    EXPECT_EQ(follow(Process(20, "stty", "/bin/stty")), std::nullopt);
    EXPECT_EQ(follow(By(20, Records::Make(CAPTURE_PORT_OPENED))),
              "pid 20 (stty) opened the port while pid 10 (minicom) holds it");
    // What the opener finds is no change.
    EXPECT_EQ(follow(By(20, Records::Baud(115200))), std::nullopt);
    EXPECT_EQ(follow(By(20, Records::Baud(9600))),
              "pid 20 (stty) changed the settings while pid 10 (minicom) holds the port");
    EXPECT_EQ(follow(By(20, Records::LineControl(0, 0, 8))), std::nullopt);
    EXPECT_EQ(follow(By(20, Records::Make(CAPTURE_MODEM_LINES, Pair(MODEM_RAISE, 2)))),
              "pid 20 (stty) changed the modem lines while pid 10 (minicom) holds the port");
    EXPECT_EQ(follow(By(10, Records::Baud(9600))), std::nullopt);
    EXPECT_EQ(follow(By(20, Records::Make(CAPTURE_PORT_CLOSED))), std::nullopt);
    EXPECT_EQ(follow(By(30, Records::Make(CAPTURE_PORT_CONTROL, Pair(CONTROL_DRAIN, 0)))),
              "pid 30 changed the port's control while pid 10 (minicom) holds the port");
    EXPECT_EQ(follow(By(30, Records::Make(CAPTURE_PORT_CLOSED))), std::nullopt);
    EXPECT_EQ(follow(By(0, Records::Make(CAPTURE_PORT_CLOSED))), std::nullopt);
    EXPECT_EQ(follow(By(40, Records::Make(CAPTURE_PORT_OPENED))), std::nullopt);
    EXPECT_EQ(presence.CommandOf(20), "stty");
    EXPECT_EQ(presence.ColourOf(40), 3);
    EXPECT_EQ(presence.ColourOf(0), -1);
}

class TimelineModelTest : public ::testing::Test {
protected:
    std::optional<std::string> Append(const Bytes& record) {
        return m_model.Append(CRecordView(record));
    }
    // Each shown line in short: direction, pid, and its hex or words.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < m_model.LineCount(); ++i) {
            const auto line = m_model.Line(i);
            std::string strLine = (line.bContinuation ? "+" : "") + std::to_string(line.dwPid) +
                                  std::string(1, "?><?*"[line.nDirection]);
            strLine += line.strEvent + std::string(line.bytes.begin(), line.bytes.end());
            lines.push_back(strLine);
        }
        return lines;
    }
    std::vector<std::uint16_t> Masks() const {
        std::vector<std::uint16_t> masks;
        for (std::size_t i = 0; i < m_model.LineCount(); ++i)
            masks.push_back(m_model.Line(i).wMatched);
        return masks;
    }

    CTimelineModel m_model;
    std::string m_strError;
};

TEST_F(TimelineModelTest, RowsKeepTheDriversOrderAndFilterByDirectionAndProcess) {
    EXPECT_EQ(Append(Process(10, "minicom", "")), std::nullopt);
    Append(By(10, Records::Make(CAPTURE_PORT_OPENED)));
    Append(By(10, Records::Written(Bytes{'A', 'T', '\r'})));
    Append(By(10, Records::Read("0123456789abcdefOK")));
    Append(By(0, Records::Make(CAPTURE_DRIVER_NOTICE, Pair(99, 0)))); // unknown: skipped
    Append(By(0, Records::Make(CAPTURE_DRIVER_NOTICE, Pair(NOTICE_EVENTS_LOST, 0))));
    Append(Records::Make(CAPTURE_BAUD_RATE, Bytes(2))); // cut: skipped
    EXPECT_EQ(Append(By(20, Records::Make(CAPTURE_PORT_OPENED))),
              "pid 20 opened the port while pid 10 (minicom) holds it");
    Append(By(20, Written("x")));
    const std::vector<std::string> all = {
        "10*Process 10 (minicom), uid 1000",
        "10*Port opened",
        "10>AT\r",
        "10<0123456789abcdef",
        "+10<OK",
        "0*opens and closes of the port may be missing",
        "20*Port opened; pid 20 opened the port while pid 10 (minicom) holds it",
        "20>x"};
    EXPECT_EQ(Lines(), all);
    EXPECT_TRUE(m_model.Line(6).bOtherProcess);
    EXPECT_EQ(m_model.Line(3).strCommand, "minicom");
    m_model.SetDirectionFilter(CTimelineModel::DIRECTION_READ | CTimelineModel::DIRECTION_EVENT);
    m_model.SetProcessFilter(20);
    EXPECT_EQ(Lines(), (std::vector<std::string>{all[5], all[6]}));
    m_model.SetProcessFilter(std::nullopt);
    Append(By(10, Written("y")));
    EXPECT_EQ(Lines(), (std::vector<std::string>{all[0], all[1], all[3], all[4], all[5], all[6]}));
    m_model.SetDirectionFilter(CTimelineModel::DIRECTION_ALL);
    EXPECT_EQ(m_model.LineCount(), all.size() + 1);
}

TEST_F(TimelineModelTest, FindsTextAndHexWithNextPreviousAndTheBytesCovered) {
    Append(Records::Read("ok, then OK"));
    Append(Records::Make(CAPTURE_PORT_CLOSED));
    Append(Written(std::string(15, '-') + "ok" + std::string(16, '-') + "Ok"));
    ASSERT_TRUE(m_model.SetFind("OK", false, m_strError));
    EXPECT_EQ(m_model.MatchCount(), 4u);
    EXPECT_EQ(Masks(), (std::vector<std::uint16_t>{0x603, 0, 0x8000, 1, 6}));
    EXPECT_EQ(m_model.FindNext(0, true), 2u);
    EXPECT_EQ(m_model.FindNext(2, true), 4u);
    EXPECT_EQ(m_model.FindNext(4, true), 0u);
    EXPECT_EQ(m_model.FindNext(0, false), 4u);
    EXPECT_EQ(m_model.FindNext(4, false), 2u);
    EXPECT_EQ(m_model.FindNext(2, false), 0u);
    ASSERT_TRUE(m_model.SetFind("clo", false, m_strError));
    EXPECT_EQ(Masks(), (std::vector<std::uint16_t>{0, 1, 0, 0, 0}));
    EXPECT_EQ(m_model.FindNext(4, true), 1u);
    ASSERT_TRUE(m_model.SetFind("2d6f 6B", true, m_strError));
    EXPECT_EQ(Masks(), (std::vector<std::uint16_t>{0, 0, 0xC000, 1, 0}));
    EXPECT_FALSE(m_model.SetFind("6f 6", true, m_strError));
    EXPECT_FALSE(m_model.SetFind("zz", true, m_strError));
    EXPECT_EQ(m_model.MatchCount(), 1u);
    ASSERT_TRUE(m_model.SetFind("", false, m_strError));
    EXPECT_EQ(m_model.FindNext(0, true), std::nullopt);
}

TEST_F(TimelineModelTest, PauseFreezesTheLinesAndTheBoundDropsTheOldest) {
    m_model.SetMaxRecords(4);
    for (const char ch : std::string("abc"))
        Append(Stamped(Records::Read(std::string(1, ch)), ch * 1000000ull));
    m_model.Pause();
    Append(Written("d"));
    m_model.SetDirectionFilter(CTimelineModel::DIRECTION_READ);
    Append(Written("e"));
    Append(Stamped(Records::Read("f"), 'f' * 1000000ull));
    EXPECT_EQ(m_model.RowsWhilePaused(), 1u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"0<c"}));
    EXPECT_EQ(m_model.DroppedRecords(), 2u);
    m_model.Resume();
    EXPECT_EQ(Lines(), (std::vector<std::string>{"0<c", "0<f"}));
    m_model.SetTimeMode(CTimelineModel::ETimeMode::SincePrevious);
    EXPECT_EQ(m_model.Line(1).strTime, "+0.003000");
    m_model.SetTimeMode(CTimelineModel::ETimeMode::SinceFirst);
    EXPECT_EQ(m_model.Line(1).strTime, "0.005000");
    m_model.SetMaxRecords(1);
    EXPECT_EQ(m_model.RecordCount(), 1u);
    EXPECT_EQ(m_model.DroppedRecords(), 5u);
}

} // namespace
