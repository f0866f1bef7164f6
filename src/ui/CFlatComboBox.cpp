#include "CFlatComboBox.h"

#include <QAbstractItemView>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTimerEvent>

bool CFlatComboBox::s_bHighlighted = false;

namespace {

// A one-pixel ring on the rectangle (nLeft, nTop) to (nRight, nBottom),
// right and bottom exclusive: top and left edges in crTopLeft, drawn first,
// then the right column and the bottom row, whole, in crBottomRight.
void Ring(QPainter& painter, int nLeft, int nTop, int nRight, int nBottom, const QColor& crTopLeft,
          const QColor& crBottomRight) {
    const int cx = nRight - nLeft, cy = nBottom - nTop;
    painter.fillRect(nLeft, nTop, cx - 1, 1, crTopLeft);
    painter.fillRect(nLeft, nTop, 1, cy - 1, crTopLeft);
    painter.fillRect(nRight - 1, nTop, 1, cy, crBottomRight);
    painter.fillRect(nLeft, nBottom - 1, cx, 1, crBottomRight);
}

} // namespace

CFlatComboBox::CFlatComboBox(QWidget* pParent) : QComboBox(pParent) {
    // Every move over the control starts the hover timer, button down or not.
    setMouseTracking(true);
}

void CFlatComboBox::mouseMoveEvent(QMouseEvent* pEvent) {
    m_timer.start(HOVER_INTERVAL_MS, this);
    QComboBox::mouseMoveEvent(pEvent);
}

void CFlatComboBox::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton)
        m_bLButtonDown = true;
    QComboBox::mousePressEvent(pEvent);
}

void CFlatComboBox::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton) {
        m_bLButtonDown = false;
        DrawCombo(LOOK_NORMAL, QPalette::Button, QPalette::Button);
    }
    QComboBox::mouseReleaseEvent(pEvent);
}

void CFlatComboBox::showPopup() {
    QAbstractItemView* pList = view();
    int nWidth = pList->sizeHintForColumn(0) + 2 * pList->frameWidth();
    if (count() > maxVisibleItems())
        nWidth += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, pList);
    pList->setMinimumWidth(nWidth);
    QComboBox::showPopup();
}

// The press opens the list, which takes the release for itself; closing the
// list ends the press, or hover tracking would never start again.
void CFlatComboBox::hidePopup() {
    QComboBox::hidePopup();
    if (!m_bLButtonDown)
        return;
    m_bLButtonDown = false;
    DrawCombo(LOOK_NORMAL, QPalette::Button, QPalette::Button);
}

void CFlatComboBox::timerEvent(QTimerEvent* pEvent) {
    if (pEvent->timerId() == m_timer.timerId())
        OnTimer();
    else
        QComboBox::timerEvent(pEvent);
}

void CFlatComboBox::OnTimer() {
    // The whole widget, as the window rectangle in screen coordinates.
    const QRect rcWindow(mapToGlobal(QPoint(0, 0)), size());
    if (m_bLButtonDown) {
        m_timer.stop();
        if (s_bHighlighted) {
            DrawCombo(LOOK_PRESSED, QPalette::Dark, QPalette::Light);
            s_bHighlighted = false;
        }
        return;
    }
    if (!rcWindow.contains(QCursor::pos())) {
        m_timer.stop();
        if (s_bHighlighted) {
            DrawCombo(LOOK_NORMAL, QPalette::Button, QPalette::Button);
            s_bHighlighted = false;
        }
        return;
    }
    if (s_bHighlighted)
        return;
    s_bHighlighted = true;
    DrawCombo(LOOK_RAISED, QPalette::Dark, QPalette::Light);
}

void CFlatComboBox::DrawCombo(int nLook, QPalette::ColorRole eOuterTopLeft,
                              QPalette::ColorRole eOuterBottomRight) {
    m_nLook = nLook;
    m_eOuterTopLeft = eOuterTopLeft;
    m_eOuterBottomRight = eOuterBottomRight;
    repaint();
}

// The look stays as last drawn until the next change: Qt repaints widgets
// for reasons of its own (focus, hover, the backing store), and a look lost
// to those would flicker.
void CFlatComboBox::paintEvent(QPaintEvent* pEvent) {
    QComboBox::paintEvent(pEvent);
    QPainter painter(this);
    PaintLook(painter);
}

void CFlatComboBox::PaintLook(QPainter& painter) const {
    // Colours and the button width are read at every draw, so a change of
    // palette or style shows at the next one.
    const QPalette& pal = palette();
    const QColor crFace = pal.color(QPalette::Button);
    const QColor crShadow = pal.color(QPalette::Dark);
    const QColor crLight = pal.color(QPalette::Light);
    const int T = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const int W = width(), H = height();

    Ring(painter, 0, 0, W, H, pal.color(m_eOuterTopLeft), pal.color(m_eOuterBottomRight));
    const QColor crInner = isEnabled() ? crFace : crLight;
    Ring(painter, 1, 1, W - 1, H - 1, crInner, crInner);
    Ring(painter, W - 2 - T, 2, W - 2, H - 2, crFace, crFace);
    Ring(painter, W - 1 - T, 3, W - 3, H - 3, crFace, crFace);
    if (!isEnabled())
        return;
    switch (m_nLook) {
    case LOOK_NORMAL:
        Ring(painter, W - 1 - T, 2, W - 3, H - 2, crLight, crLight);
        Ring(painter, W - 2 - T, 2, W - 3, H - 2, crLight, crLight);
        break;
    case LOOK_RAISED:
        Ring(painter, W - 1 - T, 2, W - 3, H - 2, crLight, crShadow);
        break;
    case LOOK_PRESSED:
        Ring(painter, W - T, 3, W - 2, H - 1, crShadow, crLight);
        break;
    default:
        break;
    }
}
