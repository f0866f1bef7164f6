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

TEST(SplashWnd, IsThePictureAtOneToOneWithoutFrameCentredWithTheUpArrow) {
    CSplashWnd wnd;
    ASSERT_TRUE(wnd.CreateSplash());
    wnd.CenterWindow();
    const QRect rcWork = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(wnd.frameGeometry(), QRect(rcWork.left() + (rcWork.width() - 632) / 2,
                                         rcWork.top() + (rcWork.height() - 425) / 2, 632, 425));
    EXPECT_TRUE(wnd.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(wnd.cursor().shape(), Qt::UpArrowCursor);
    // Painted before its wait.
    EXPECT_TRUE(wnd.ShowFor(1));
    EXPECT_EQ(wnd.grab().toImage().convertToFormat(QImage::Format_RGB32), Picture(138));
}

// The picture must reach every corner of the client area, whatever its
// proportions: no margins, no tiling, no kept aspect ratio.
void ExpectStretched(CMdiBackground& area, int nId) {
    const QImage picture = Picture(nId), shown = area.viewport()->grab().toImage();
    for (const auto& [x, y] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}})
        EXPECT_EQ(shown.pixel(x * (shown.width() - 1), y * (shown.height() - 1)),
                  picture.pixel(x * (picture.width() - 1), y * (picture.height() - 1)))
            << nId << " corner " << x << "," << y;
}

TEST(MdiBackground, SwitchesPicturesFromTheFirstPaintOnStretchedToEverySize) {
    ASSERT_NE(Picture(139).pixel(0, 0), Picture(140).pixel(0, 0));
    CMdiBackground area;
    area.SetSwitchInterval(20);
    area.resize(900, 500);
    QTest::qWait(60);
    EXPECT_EQ(area.CurrentBitmapId(), 139); // nothing painted yet, so no timer
    area.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return area.CurrentBitmapId() == 140; }));
    ExpectStretched(area, 140);
    area.resize(400, 760);
    ASSERT_TRUE(QTest::qWaitFor([&] { return area.CurrentBitmapId() == 139; }));
    ExpectStretched(area, 139);
    area.OnDestroy();
    QTest::qWait(60);
    EXPECT_EQ(area.CurrentBitmapId(), 139);
}
