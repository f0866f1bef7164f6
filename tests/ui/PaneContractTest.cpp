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

TEST(PaneContractTest, LinesFollowTheEditControl) {
    CViewRead pane;
    // A CR left at the end pairs with an LF that arrives later.
    pane.AppendText(u"one\r\ntwo\r\nthree\r");
    EXPECT_EQ(LineStarts(pane), (Starts{0, 5, 10, -1}));
    pane.AppendText(u"\nfour");
    EXPECT_EQ(LineStarts(pane), (Starts{0, 5, 10, 17, -1}));
    // Replacing a middle line takes its line break, so later lines stay put.
    pane.ReplaceLine(1, u"TWO!\r\n", false);
    EXPECT_EQ(pane.Text(), u"one\r\nTWO!\r\nthree\r\nfour");

    // Whole lines go until as many characters as asked have gone, never more
    // lines than allowed; indexes count from what is left.
    EXPECT_EQ(pane.RemoveLeadingLines(5, 5), 1);
    EXPECT_EQ(pane.RemoveLeadingLines(100, 0), 0);
    EXPECT_EQ(pane.RemoveLeadingLines(100, 1), 1);
    EXPECT_EQ(pane.Text(), u"three\r\nfour");
    EXPECT_EQ(LineStarts(pane), (Starts{0, 7, -1}));
    pane.Clear();
    EXPECT_EQ(pane.Text(), u"");
    EXPECT_EQ(LineStarts(pane), (Starts{0, -1}));
}

} // namespace
