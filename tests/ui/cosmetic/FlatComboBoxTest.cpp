#include "CFlatComboBox.h"

#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

const QColor FACE(201, 202, 203), SHADOW(51, 52, 53), LIGHT(251, 252, 253);

} // namespace

class FlatComboBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        QPalette pal = m_combo.palette();
        pal.setColor(QPalette::Button, FACE);
        pal.setColor(QPalette::Dark, SHADOW);
        pal.setColor(QPalette::Light, LIGHT);
        m_combo.setPalette(pal);
        m_combo.addItems({QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")});
        m_combo.setGeometry(20, 20, 160, 26);
        m_host.resize(240, 80);
        m_host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_host));
    }
    void TearDown() override {
        m_combo.hidePopup();
        // The tests' own record of the buttons held must not outlive them.
        QTest::mouseRelease(&m_host, Qt::LeftButton, {}, QPoint(230, 70));
        QCursor::setPos(m_host.mapToGlobal(QPoint(230, 70)));
        m_combo.OnTimer();
    }

    // The corners of the rings, and three pixels of the drop button's edge
    // that tell the looks apart.
    void ExpectLook(int nLook, const char* pszWhen) {
        const QImage image = m_combo.grab().toImage();
        const int W = image.width(), H = image.height();
        const int T = m_combo.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &m_combo);
        const bool bEnabled = m_combo.isEnabled(), bFlat = nLook == CFlatComboBox::LOOK_NORMAL;
        const QColor crTL = bFlat ? FACE : SHADOW, crBR = bFlat ? FACE : LIGHT;
        const int nCase = !bEnabled ? 0 : bFlat ? 1 : nLook == CFlatComboBox::LOOK_RAISED ? 2 : 3;
        const QPoint ptLeft(W - 2 - T, 2), ptInside(W - 4, H - 4);
        const std::pair<QPoint, QColor> button[4][3] = {
            {{ptLeft, FACE}, {ptInside, FACE}, {{W - 1 - T, 3}, FACE}},
            {{ptLeft, LIGHT}, {ptInside, LIGHT}, {{W - 1 - T, 3}, LIGHT}},
            {{{W - 1 - T, 2}, LIGHT}, {ptInside, SHADOW}, {{W - 3, H - 3}, FACE}},
            {{{W - 1 - T, 3}, FACE}, {{W - T, 3}, SHADOW}, {{W - 3, H - 2}, LIGHT}},
        };
        const QColor crInner = bEnabled ? FACE : LIGHT;
        std::vector<std::pair<QPoint, QColor>> expected = {
            {{0, 0}, crTL},        {{W - 2, 0}, crTL},        {{0, H - 2}, crTL},
            {{W - 1, 0}, crBR},    {{0, H - 1}, crBR},        {{1, 1}, crInner},
            {{W - 2, 2}, crInner}, {{W - 2, H - 2}, crInner},
        };
        expected.insert(expected.end(), std::begin(button[nCase]), std::end(button[nCase]));
        for (const auto& [pt, cr] : expected)
            EXPECT_EQ(image.pixelColor(pt), cr) << pszWhen << " at " << pt.x() << "," << pt.y();
    }

    void PointAt(QPoint pt) {
        QCursor::setPos(m_combo.mapToGlobal(pt));
        QTest::mouseMove(&m_combo, pt);
    }

    QWidget m_host;
    CFlatComboBox m_combo{&m_host};
};

TEST_F(FlatComboBoxTest, HoverRaisesPressSinksAndLeavingFlattens) {
    ExpectLook(CFlatComboBox::LOOK_NORMAL, "at rest");
    PointAt(QPoint(159, 25)); // the last pixel inside
    ASSERT_TRUE(QTest::qWaitFor([] { return CFlatComboBox::IsHighlighted(); }));
    ExpectLook(CFlatComboBox::LOOK_RAISED, "hot");

    QTest::mousePress(&m_combo, Qt::LeftButton, {}, QPoint(150, 12));
    m_combo.OnTimer();
    EXPECT_FALSE(m_combo.IsTracking());
    EXPECT_FALSE(CFlatComboBox::IsHighlighted());
    ExpectLook(CFlatComboBox::LOOK_PRESSED, "pressed");
    m_combo.hidePopup(); // the list took the release
    ExpectLook(CFlatComboBox::LOOK_NORMAL, "released");

    PointAt(QPoint(80, 12));
    m_combo.OnTimer();
    ASSERT_TRUE(CFlatComboBox::IsHighlighted());
    QCursor::setPos(m_combo.mapToGlobal(QPoint(160, 26))); // half-open: outside
    m_combo.OnTimer();
    EXPECT_FALSE(m_combo.IsTracking());
    EXPECT_FALSE(CFlatComboBox::IsHighlighted());
    ExpectLook(CFlatComboBox::LOOK_NORMAL, "left");
}

// A press before any hot tick draws nothing and stops tracking; a disabled
// box shows no drop-button edge.
TEST_F(FlatComboBoxTest, PressedColdOrDisabledDrawsNoEdge) {
    PointAt(QPoint(80, 12));
    QTest::mousePress(&m_combo, Qt::LeftButton, {}, QPoint(80, 12));
    m_combo.OnTimer();
    EXPECT_FALSE(m_combo.IsTracking());
    ExpectLook(CFlatComboBox::LOOK_NORMAL, "pressed cold");
    m_combo.hidePopup();
    m_combo.setEnabled(false);
    ExpectLook(CFlatComboBox::LOOK_NORMAL, "disabled");
}
