#include "CAboutDlg.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

// The pointer as the platform sees it, and the move that reports it.
void PointAt(QWidget& widget, QPoint pt) {
    QCursor::setPos(widget.mapToGlobal(pt));
    QTest::mouseMove(&widget, pt);
}

bool Shows(QWidget& widget, const QColor& colour) {
    const QImage image = widget.grab().toImage();
    for (int i = 0; i < image.width() * image.height(); ++i)
        if (image.pixelColor(i % image.width(), i / image.width()) == colour)
            return true;
    return false;
}

} // namespace

// The About box's links keep their targets and their own looks; hovering
// wins over visited and ends when the pointer leaves.
TEST(AboutDlg, LinksShowTheirTargetsAndLooksAndHoverWinsOverVisited) {
    CAboutDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(dlg.m_linkHome.toolTip(), QStringLiteral("https://wirelet.dev/"));
    EXPECT_TRUE(dlg.m_linkHome.font().underline());
    EXPECT_EQ(dlg.m_linkMail.toolTip(), QStringLiteral("mailto:wirelet@wirelet.dev"));
    EXPECT_FALSE(dlg.m_linkMail.font().underline());
    EXPECT_EQ(dlg.m_linkMail.cursor().shape(), Qt::PointingHandCursor);

    CLinkLabel& link = dlg.m_linkHome;
    const QColor crLink(0, 0, 238), crVisited(85, 26, 139);
    const QColor crHover = dlg.palette().color(QPalette::Highlight);
    EXPECT_TRUE(Shows(link, crLink));
    link.SetVisited(true);
    EXPECT_TRUE(Shows(link, crVisited));
    PointAt(link, link.rect().center());
    EXPECT_TRUE(Shows(link, crHover));
    PointAt(dlg, QPoint(2, 2));
    EXPECT_TRUE(Shows(link, crVisited));
}

TEST(LinkLabel, FitsToItsTextKeepingTheEdgeOfItsAlignment) {
    QWidget parent;
    struct {
        Qt::Alignment eAlign;
        QString strText, strTarget;
    } const cases[] = {
        {Qt::AlignLeft | Qt::AlignTop, QStringLiteral("left"), {}},
        {Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("centred"), {}},
        {Qt::AlignRight | Qt::AlignTop, QStringLiteral("right"), {}},
        {Qt::AlignLeft | Qt::AlignVCenter, {}, QStringLiteral("mailto:x@wirelet.dev")},
    };
    for (const auto& c : cases) {
        CLinkLabel link(&parent);
        link.setText(c.strText);
        link.SetTarget(c.strTarget);
        link.setAlignment(c.eAlign);
        link.setGeometry(10, 20, 200, 40);
        link.Attach();
        // A label without text shows its target.
        const QString strShown = c.strText.isEmpty() ? c.strTarget : c.strText;
        ASSERT_EQ(link.text(), strShown);
        EXPECT_EQ(link.toolTip(), c.strTarget.isEmpty() ? c.strText : c.strTarget);
        const QFontMetrics fm(link.font());
        const int cx = fm.horizontalAdvance(strShown), cy = fm.height();
        const QRect rc = link.geometry();
        if (c.eAlign & Qt::AlignHCenter) {
            EXPECT_EQ(rc.left() - 10, 210 - (rc.left() + rc.width()));
            EXPECT_LE(rc.width() - cx, 1);
        } else if (c.eAlign & Qt::AlignRight) {
            EXPECT_EQ(rc, QRect(210 - cx, 20, cx, cy));
        } else if (c.eAlign & Qt::AlignVCenter) {
            EXPECT_EQ(rc, QRect(10, 20 + (40 - cy) / 2, cx, 40 - 2 * ((40 - cy) / 2)));
        } else {
            EXPECT_EQ(rc, QRect(10, 20, cx, cy));
        }
    }
}
