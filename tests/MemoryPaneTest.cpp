#include "CMemoryPane.h"

#include <gtest/gtest.h>

TEST(MemoryPaneTest, LinesFollowTheEditControl) {
    CMemoryPane pane;
    EXPECT_EQ(pane.LineCount(), 1);
    EXPECT_EQ(pane.LineIndex(0), 0);
    EXPECT_EQ(pane.LineIndex(1), -1);

    pane.ReplaceLine(0, u"one\r\n", true); // the empty last line: appends
    pane.AppendText(u"two\r\nthree");
    EXPECT_EQ(pane.LineCount(), 3);
    EXPECT_EQ(pane.LineIndex(2), 10);

    // Replacing a middle line takes its line break, so later lines stay put.
    pane.ReplaceLine(1, u"TWO!\r\n", false);
    EXPECT_EQ(pane.Text(), u"one\r\nTWO!\r\nthree");
    pane.ReplaceLine(2, u"3\r\n", true);
    EXPECT_EQ(pane.Text(), u"one\r\nTWO!\r\n3\r\n");
    EXPECT_EQ(pane.LineCount(), 4);

    // A CR left at the end pairs with an LF that arrives later.
    pane.AppendText(u"x\r");
    EXPECT_EQ(pane.LineCount(), 4);
    pane.AppendText(u"\ny");
    EXPECT_EQ(pane.LineCount(), 5);
    EXPECT_EQ(pane.LineIndex(4), static_cast<std::ptrdiff_t>(pane.TextLength()) - 1);
}

TEST(MemoryPaneTest, DroppingLeadingLinesKeepsIndexesAndText) {
    CMemoryPane pane;
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
