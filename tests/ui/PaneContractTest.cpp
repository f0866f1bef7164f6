// What the formatter relies on, held by the widget and so by the in-memory
// pane it keeps its text in (the formatter's tests write to that one alone).
#include "CViewRead.h"

#include <gtest/gtest.h>

namespace {

using Starts = std::vector<std::ptrdiff_t>;

// Where each line starts, and -1 for the line after the last.
Starts LineStarts(const IPane& pane) {
    Starts starts;
    for (int nLine = 0; nLine <= pane.LineCount(); ++nLine)
        starts.push_back(pane.LineIndex(nLine));
    return starts;
}

class PaneContractTest : public testing::Test {
protected:
    CViewRead m_pane;
};

TEST_F(PaneContractTest, LinesFollowTheEditControl) {
    IPane& pane = m_pane;
    EXPECT_EQ(LineStarts(pane), (Starts{0, -1}));
    pane.ReplaceLine(0, u"one\r\n", true); // the empty last line: appends
    pane.AppendText(u"two\r\nthree");
    EXPECT_EQ(LineStarts(pane), (Starts{0, 5, 10, -1}));

    // Replacing a middle line takes its line break, so later lines stay put.
    pane.ReplaceLine(1, u"TWO!\r\n", false);
    EXPECT_EQ(pane.Text(), u"one\r\nTWO!\r\nthree");
    pane.ReplaceLine(2, u"3\r\n", true);
    EXPECT_EQ(pane.Text(), u"one\r\nTWO!\r\n3\r\n");
    // A CR left at the end pairs with an LF that arrives later.
    pane.AppendText(u"x\r");
    EXPECT_EQ(LineStarts(pane), (Starts{0, 5, 11, 14, -1}));
    pane.AppendText(u"\ny");
    EXPECT_EQ(LineStarts(pane), (Starts{0, 5, 11, 14, 17, -1}));
}

TEST_F(PaneContractTest, DroppingLeadingLinesKeepsIndexesAndText) {
    IPane& pane = m_pane;
    std::u16string expected;
    for (int i = 0; i < 100; ++i) {
        const std::u16string line = u"line " + std::u16string(1, char16_t(u'A' + i % 26)) + u"\r\n";
        pane.AppendText(line);
        expected += line;
    }
    // Asks for 15 characters: whole lines of 8 go, so two of them.
    EXPECT_EQ(pane.RemoveLeadingLines(15, 50), 2);
    expected.erase(0, 16);
    EXPECT_EQ(pane.Text(), expected);
    EXPECT_EQ(pane.LineIndex(1), 8);
    // Never more lines than allowed, even when more characters were asked for.
    EXPECT_EQ(pane.RemoveLeadingLines(10000, 60), 60);
    expected.erase(0, 60 * 8);
    EXPECT_EQ(pane.Text(), expected);
    pane.ReplaceLine(0, u"first\r\n", false);
    EXPECT_EQ(pane.Text().substr(0, 7), u"first\r\n");
    EXPECT_EQ(pane.LineCount(), 39);
    pane.Clear();
    EXPECT_EQ(pane.Text(), u"");
    EXPECT_EQ(pane.LineCount(), 1);
}

} // namespace
