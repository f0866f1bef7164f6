#include "CMemoryPane.h"
#include "CTrafficFormatter.h"
#include "ICounters.h"
#include "Records.h"
#include "TrafficText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Records::Bytes;

namespace {

// A data line from its literal hex pairs and characters, laid out on the
// pane's 16 tab stops.
std::u16string Line(std::u16string_view hex, std::u16string_view chars) {
    std::u16string line;
    for (std::size_t i = 0; i < 16; ++i)
        line += (3 * i < hex.size() ? std::u16string(hex.substr(3 * i, 2)) : u"") + u"\t";
    return line + std::u16string(chars) + u"\r\n";
}

Bytes Sequence(std::size_t n, std::uint8_t byFirst = 0x30) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(byFirst + i);
    return bytes;
}

struct CRecordingCounters : ICounters {
    std::u16string m_sets;
    void SetRecvCount(std::u16string_view text) override { (m_sets += u" recv ") += text; }
    void SetSendCount(std::u16string_view text) override { (m_sets += u" send ") += text; }
};

class CCountedFormatter : public CTrafficFormatter {
public:
    using CTrafficFormatter::CTrafficFormatter;
    void StartTotalsAt(std::uint64_t qwRead) { m_dwTotalRead = qwRead; }
};

class FormatterTest : public ::testing::Test {
protected:
    FormatterTest() { m_formatter.SetPanes(&m_read, &m_write); }
    void Feed(const Bytes& record) { m_formatter.FormatRecord(Records::Owned(record)); }
    std::u16string Recv() const { return m_read.Text(); }
    std::u16string Send() const { return m_write.Text(); }

    CMemoryPane m_read;
    CMemoryPane m_write;
    CCountedFormatter m_formatter;
};

TEST_F(FormatterTest, LinesFillAcrossRecordsAreRewrittenInPlaceAndShowEveryByteValue) {
    Feed(Records::Written(Sequence(20)));
    EXPECT_EQ(Send(),
              Line(u"30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F", u"0123456789:;<=>?") +
                  Line(u"40 41 42 43", u"@ABC"));

    // 4 held + 5 + 7 fill the line exactly, so the next byte starts a line of
    // its own; an empty record rewrites the held line unchanged.
    Feed(Records::Written(Sequence(5, 0x61)));
    Feed(Records::Written({}));
    Feed(Records::Written(Sequence(7, 0x66)));
    Feed(Records::Written(Bytes{0x6D}));
    EXPECT_EQ(Send(),
              Line(u"30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F", u"0123456789:;<=>?") +
                  Line(u"40 41 42 43 61 62 63 64 65 66 67 68 69 6A 6B 6C", u"@ABCabcdefghijkl") +
                  Line(u"6D", u"m"));

    // Every hex digit in both places, and the edges of each character class:
    // controls as dots, ASCII, DEL and C1 as themselves, Latin-1 above.
    Feed(Records::Read(Bytes{0x00, 0x1F, 0x20, 0x2F, 0x30, 0x41, 0x5C, 0x6D, 0x7E, 0x7F, 0x80,
                             0x9F, 0xA0, 0xC3, 0xE9, 0xFF, 0x12, 0x23, 0x34, 0x45, 0x56, 0x67,
                             0x78, 0x89, 0x9A, 0xAB, 0xBC, 0xCD, 0xDE, 0xEF, 0xF1, 0x0A}));
    EXPECT_EQ(Recv(), Line(u"00 1F 20 2F 30 41 5C 6D 7E 7F 80 9F A0 C3 E9 FF",
                           u".. /0A\\m~\x7F\x80\x9F\xA0\xC3\xE9\xFF") +
                          Line(u"12 23 34 45 56 67 78 89 9A AB BC CD DE EF F1 0A",
                               u".#4EVgx\x89\x9A\xAB\xBC\xCD\xDE\xEF\xF1."));
}

// Held bytes end at an event: the data after it starts a line of its own.
TEST_F(FormatterTest, EventLinesSitBetweenDataWithoutGapsAndAfterEventsWithOne) {
    Feed(Records::Read(Bytes{1, 2, 3}));
    Feed(Records::Make(Vantry::CAPTURE_PORT_CLOSED));
    Feed(Records::Read(Bytes{4, 5}));
    EXPECT_EQ(Recv(), Line(u"01 02 03", u"...") + u"Port closed\r\n" + Line(u"04 05", u".."));
    // The send pane had no data: each event line follows one empty line.
    Feed(Records::Make(Vantry::CAPTURE_PORT_OPENED));
    Feed(Records::Written(Bytes{0x41}));
    EXPECT_EQ(Send(), u"\r\nPort closed\r\n\r\nPort opened\r\n" + Line(u"41", u"A"));
}

TEST_F(FormatterTest, EventTexts) {
    const std::pair<Bytes, std::u16string> cases[] = {
        {Records::Baud(9600), u"Baud rate set to 9600\r\n"},
        {Records::Baud(0xFFFFFFFF), u"Baud rate set to -1\r\n"},
        {Records::LineControl(1, 1, 7),
         u"StopBits: 1.5 stop bits, Parity: Odd parity, WordLength: 7\r\n"},
        {Records::LineControl(2, 2, 5),
         u"StopBits: 2 stop bits, Parity: Even parity, WordLength: 5\r\n"},
        {Records::LineControl(9, 3, 6),
         u"StopBits: 2 stop bits, Parity: Mark parity, WordLength: 6\r\n"},
        {Records::LineControl(0, 4, 255),
         u"StopBits: 1 stop bit, Parity: Space parity, WordLength: 255\r\n"},
        {Records::LineControl(0, 5, 8),
         u"StopBits: 1 stop bit, Parity: Strange parity, WordLength: 8\r\n"},
    };
    std::u16string expected; // each event line follows an empty line
    for (const auto& [original, text] : cases) {
        Bytes record = original;
        for (int i = 0; i < 16; ++i)
            record[i] = 0xA5; // the driver's own bytes change nothing
        record[21] = record[22] = record[23] = 0xFF;
        Feed(record);
        expected += u"\r\n" + text;
    }
    EXPECT_EQ(Recv(), expected);
    EXPECT_EQ(Send(), expected);
}

TEST_F(FormatterTest, UnknownTypesAndShortRecordsChangeNothing) {
    Feed(Records::Read(Bytes{1, 2, 3}));
    const std::u16string before = Recv();

    for (const Bytes& record :
         {Records::Make(4, {1, 2, 3, 4}), Records::Make(static_cast<std::int8_t>(0x85)),
          Records::Make(Vantry::CAPTURE_BAUD_RATE, {0x80, 0x25, 0}),
          Records::Make(Vantry::CAPTURE_LINE_CONTROL, {0, 0}),
          Records::Make(Vantry::CAPTURE_DATA_READ, {7, 8, 9}, 4),
          Records::Make(Vantry::CAPTURE_DATA_READ, {7}, 0xFFFFFFFF), Bytes(20, 0), Bytes{}}) {
        Feed(record); // each record is a heap block of exactly its size: ASan sees any overread
        EXPECT_EQ(Recv(), before);
        EXPECT_EQ(Send(), u"");
        EXPECT_EQ(m_formatter.TotalRead(), 3u);
        EXPECT_EQ(m_formatter.TotalWrite(), 0u);
    }
    // The line state is untouched too: the next bytes still join the held ones.
    Feed(Records::Read(Bytes{4}));
    EXPECT_EQ(Recv(), Line(u"01 02 03 04", u"...."));
}

TEST_F(FormatterTest, TotalsShowOnlyForTheCurrentMonitorAndNeverWrap) {
    CRecordingCounters counters;
    m_formatter.SetCounters(&counters);
    Feed(Records::Read(Bytes{1, 2}));
    EXPECT_TRUE(counters.m_sets.empty());

    g_pCurrentMonitor = &m_formatter;
    m_formatter.StartTotalsAt(0xFFFFFFF0u);
    Feed(Records::Read(Sequence(32)));
    Feed(Records::Make(42));
    g_pCurrentMonitor = nullptr;
    EXPECT_EQ(counters.m_sets, u" recv 4294967312 send 0 recv 4294967312 send 0");
}

// The same traffic into a pane with and without a limit: the limited pane must
// always hold a whole-line tail of the other, as close to the limit as lines
// allow, and keep writing to the right line afterwards.
TEST(LimitedFormatterTest, FullPaneDropsOldestWholeLinesAndKeepsTheLineStateRight) {
    constexpr std::size_t LIMIT = 1000;
    CMemoryPane read, write, fullRead, fullWrite;
    CTrafficFormatter limited(LIMIT), unlimited(SIZE_MAX);
    limited.SetPanes(&read, &write);
    unlimited.SetPanes(&fullRead, &fullWrite);
    for (int i = 0; i < 400; ++i) {
        const Bytes record =
            i % 7 == 3   ? Records::Make(Vantry::CAPTURE_PORT_OPENED)
            : i % 7 == 5 ? Records::LineControl(0, 2, 7)
                         : Records::Read(Sequence(1 + (i * 13) % 37, static_cast<std::uint8_t>(i)));
        limited.FormatRecord(Records::Owned(record));
        unlimited.FormatRecord(Records::Owned(record));

        const std::u16string tail = read.Text();
        const std::u16string full = fullRead.Text();
        ASSERT_LE(tail.size(), LIMIT);
        ASSERT_GE(tail.size() + 2 * TrafficText::MAX_LINE_CHARS, std::min(full.size(), LIMIT)) << i;
        ASSERT_TRUE(full.ends_with(tail)) << i;
        const std::size_t nCut = full.size() - tail.size();
        ASSERT_TRUE(nCut == 0 || full.compare(nCut - 2, 2, u"\r\n") == 0) << i;
        ASSERT_TRUE(fullWrite.Text().ends_with(write.Text())) << i;
    }
    EXPECT_EQ(limited.TotalRead(), unlimited.TotalRead());
}

} // namespace
