#include "CTrafficFormatter.h"
#include "CViewRead.h"
#include "CViewWrite.h"
#include "CWireletDoc.h"
#include "Records.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class PaneViewTest : public testing::Test {
protected:
    void SetUp() override {
        for (CPaneView* pPane : std::initializer_list<CPaneView*>{&m_read, &m_write}) {
            pPane->OnUpdate(nullptr, CWireletDoc::HINT_MONITOR_STARTED);
            pPane->resize(640, 200);
            pPane->show();
        }
        m_formatter.SetPanes(&m_read, &m_write);
    }

    static QImage Shot(CPaneView& pane) {
        QCoreApplication::processEvents();
        return pane.viewport()->grab().toImage();
    }

    // The leftmost x from xFrom on where row nLine has a pixel of colour cr.
    int FirstInk(const QImage& image, int nLine, int xFrom, QColor cr) const {
        for (int x = xFrom; x < image.width(); ++x)
            for (int y = nLine * m_nLineHeight; y < (nLine + 1) * m_nLineHeight; ++y)
                if (image.pixelColor(x, y) == cr)
                    return x;
        return -1;
    }

    CViewRead m_read;
    CViewWrite m_write;
    CTrafficFormatter m_formatter;
    const int m_nLineHeight = QFontMetrics(CPaneView::MonitorFont()).height();
};

// Each pane keeps its colours down to the empty area. Hex pairs sit on
// 20-pixel stops and the character column at 340 pixels (170 dialog units),
// on a full line and on a partial one alike.
TEST_F(PaneViewTest, ColoursAndColumns) {
    m_formatter.FormatRecord(Records::Owned(Records::Read("ABCDEFGHIJKLMNOPAB")));
    m_formatter.FormatRecord(Records::Owned(Records::Written(Records::Bytes{'A', 'B', 'C', 'D'})));
    const struct {
        CPaneView* pPane;
        QColor crText, crBack;
    } cases[] = {{&m_read, Qt::black, Qt::white}, {&m_write, QColor(0, 255, 0), Qt::black}};
    for (const auto& c : cases) {
        const QImage image = Shot(*c.pPane);
        EXPECT_EQ(image.pixelColor(image.width() - 1, image.height() - 1), c.crBack);
        EXPECT_EQ(image.pixelColor(0, 0), c.crBack); // left of the first glyph
        EXPECT_GE(FirstInk(image, 0, 0, c.crText), 0);
    }
    const QImage image = Shot(m_read);
    for (const int xStop : {0, 20, 340}) {
        const int xFull = FirstInk(image, 0, xStop, Qt::black);
        EXPECT_EQ(FirstInk(image, 1, xStop, Qt::black), xFull) << xStop;
        EXPECT_NEAR(xFull, xStop + 2, 2) << xStop;
    }
}

TEST_F(PaneViewTest, SelectionStaysOnItsTextWhenLeadingLinesGo) {
    for (int i = 0; i < 10; ++i)
        m_read.AppendText(u"line " + std::u16string(1, char16_t(u'0' + i)) + u"\r\n");
    m_read.SetSelection(5 * 8, 5 * 8 + 6); // "line 5"
    EXPECT_EQ(m_read.RemoveLeadingLines(20, 3), 3);
    m_read.Copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("line 5"));

    // A selection reaching into dropped lines keeps what is left of it.
    m_read.SetSelection(0, 8 + 4);
    m_read.RemoveLeadingLines(1, 1);
    EXPECT_EQ(m_read.Selection(), std::make_pair(std::size_t{0}, std::size_t{4}));
}

TEST_F(PaneViewTest, MouseAndKeyboardSelectAndCopy) {
    for (int i = 0; i < 4; ++i)
        m_read.AppendText(u"row " + std::u16string(1, char16_t(u'0' + i)) + u"\r\n");
    QCoreApplication::processEvents();
    m_read.setFocus();
    QTest::mouseClick(m_read.viewport(), Qt::LeftButton, {}, QPoint(1, m_nLineHeight * 2 + 2));
    QTest::keyClick(&m_read, Qt::Key_End, Qt::ShiftModifier);
    QTest::keyClick(&m_read, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("row 2"));

    QTest::keyClick(&m_read, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&m_read, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("row 2\r\nrow 3"));

    QTest::keyClick(&m_read, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(m_read.Selection().second, m_read.TextLength());
}

TEST_F(PaneViewTest, FollowsTheEndOnlyWhenAnEditAsksToScroll) {
    for (int i = 0; i < 200; ++i)
        m_read.AppendText(u"line\r\n");
    QCoreApplication::processEvents();
    QScrollBar* pBar = m_read.verticalScrollBar();
    EXPECT_GT(pBar->maximum(), 0);
    EXPECT_EQ(pBar->value(), pBar->maximum());

    pBar->setValue(0);
    m_read.ReplaceLine(m_read.LineCount() - 1, u"quiet\r\n", false);
    QCoreApplication::processEvents();
    EXPECT_EQ(pBar->value(), 0);
}

} // namespace
