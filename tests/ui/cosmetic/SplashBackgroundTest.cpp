#include "CMdiBackground.h"
#include "CSplashWnd.h"
#include "CosmeticResources.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QImage Picture(int nId) {
    return QImage(BitmapResource(nId)).convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST(SplashWnd, IsThePictureSizeWithoutFrameCentredWithTheUpArrow) {
    CSplashWnd wnd;
    ASSERT_TRUE(wnd.CreateSplash());
    wnd.CenterWindow();
    const QRect rcWork = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(wnd.frameGeometry(), QRect(rcWork.left() + (rcWork.width() - 632) / 2,
                                         rcWork.top() + (rcWork.height() - 425) / 2, 632, 425));
    EXPECT_TRUE(wnd.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(wnd.cursor().shape(), Qt::UpArrowCursor);
}

TEST(SplashWnd, IsPaintedAtOneToOneBeforeItsWait) {
    CSplashWnd wnd;
    ASSERT_TRUE(wnd.CreateSplash());
    EXPECT_TRUE(wnd.ShowFor(1));
    EXPECT_EQ(wnd.grab().toImage().convertToFormat(QImage::Format_RGB32), Picture(138));
}

class MdiBackgroundTest : public ::testing::Test {
protected:
    // The picture must reach every corner of the client area, whatever its
    // proportions: no margins, no tiling, no kept aspect ratio.
    void ExpectStretched(int nId) {
        const QImage picture = Picture(nId);
        const QImage shown = m_area.viewport()->grab().toImage();
        const QSize size = m_area.viewport()->size();
        ASSERT_EQ(shown.size(), size);
        const int w = size.width() - 1, h = size.height() - 1;
        const int pw = picture.width() - 1, ph = picture.height() - 1;
        EXPECT_EQ(shown.pixel(0, 0), picture.pixel(0, 0)) << nId;
        EXPECT_EQ(shown.pixel(w, 0), picture.pixel(pw, 0)) << nId;
        EXPECT_EQ(shown.pixel(0, h), picture.pixel(0, ph)) << nId;
        EXPECT_EQ(shown.pixel(w, h), picture.pixel(pw, ph)) << nId;
    }

    CMdiBackground m_area;
};

TEST_F(MdiBackgroundTest, ShowsTheFirstPictureStretchedToEverySize) {
    ASSERT_NE(Picture(139).pixel(0, 0), Picture(140).pixel(0, 0));
    for (const QSize& size : {QSize(900, 500), QSize(400, 760)}) {
        m_area.resize(size);
        m_area.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_area));
        ExpectStretched(139);
    }
}

TEST_F(MdiBackgroundTest, SwitchesPicturesFromTheFirstPaintOn) {
    m_area.SetSwitchInterval(20);
    m_area.resize(700, 500);
    QTest::qWait(60);
    EXPECT_EQ(m_area.CurrentBitmapId(), 139); // nothing painted yet, so no timer
    m_area.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_area.CurrentBitmapId() == 140; }));
    ExpectStretched(140);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_area.CurrentBitmapId() == 139; }));
    m_area.OnDestroy();
    QTest::qWait(60);
    EXPECT_EQ(m_area.CurrentBitmapId(), 139);
}
