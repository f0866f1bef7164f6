#include "CTimelineModel.h"
#include "CTimelineView.h"
#include "Records.h"

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Records::Stamped;

Records::Bytes Text(const std::string& strText) {
    return Records::Bytes(strText.begin(), strText.end());
}

// Rows are drawn from the model alone: each process on its colour, the
// matches highlighted, the end followed, the framed line described.
TEST(TimelineViewTest, DrawsTheVisibleRowsOfTheModel) {
    CTimelineModel model;
    for (const auto& record :
         {Records::Process(100, "app", "/usr/bin/app"), Records::Process(200, "modem", ""),
          Stamped(Records::Written(Text("AT\r")), 1, 100),
          Stamped(Records::Read(Text("OK\r\n")), 2, 200)})
        model.Append(CRecordView(record));
    CTimelineView view;
    view.resize(900, 200);
    view.SetModel(&model);
    view.show();
    const int nLineHeight = QFontMetrics(QFont(QStringLiteral("Monospace"))).height();
    const auto shot = [&] {
        view.Refresh();
        QCoreApplication::processEvents();
        return view.viewport()->grab().toImage();
    };
    const auto rowHas = [&](const QImage& image, int nLine, QColor cr) {
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, nLine * nLineHeight + nLineHeight / 2) == cr)
                return true;
        return false;
    };
    QImage image = shot();
    EXPECT_EQ(image.pixelColor(1, 2 * nLineHeight + 1), CTimelineView::ProcessColour(0));
    EXPECT_EQ(image.pixelColor(1, 3 * nLineHeight + 1), CTimelineView::ProcessColour(1));
    EXPECT_NE(CTimelineView::ProcessColour(0), CTimelineView::ProcessColour(1));
    const QColor crMatch(255, 230, 80);
    EXPECT_FALSE(rowHas(image, 3, crMatch));
    std::string strError;
    ASSERT_TRUE(model.SetFind("4f 4b", true, strError));
    image = shot();
    EXPECT_TRUE(rowHas(image, 3, crMatch));
    EXPECT_FALSE(rowHas(image, 2, crMatch));

    for (int i = 0; i < 100; ++i)
        model.Append(CRecordView(Stamped(Records::Written(Text("ATI\r")), 3, 100)));
    shot();
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    EXPECT_GT(view.verticalScrollBar()->maximum(), 0);
    QTest::keyClick(&view, Qt::Key_Home);
    QTest::keyClick(&view, Qt::Key_Down, Qt::NoModifier);
    EXPECT_EQ(view.CurrentLine(), 1u);
    EXPECT_EQ(view.verticalScrollBar()->value(), 0);
    EXPECT_TRUE(view.accessibleDescription().contains(QStringLiteral("200 modem")))
        << view.accessibleDescription().toStdString();
}

} // namespace
