#include "CMdiBackground.h"

#include "CosmeticResources.h"

#include <QImage>
#include <QPainter>
#include <QTimerEvent>

CMdiBackground::CMdiBackground(QWidget* pParent) : QMdiArea(pParent) {}

void CMdiBackground::OnDestroy() {
    m_timer.stop();
}

void CMdiBackground::paintEvent(QPaintEvent*) {
    if (!m_bTimerStarted) {
        m_timer.start(m_nSwitchIntervalMs, this);
        m_bTimerStarted = true;
    }
    // Decoded afresh on every paint, as little as that costs: a few
    // milliseconds, against a full paint's stretch of up to 20 ms on a 4K
    // client area that no cache of the picture would save (bench_background).
    const QImage bitmap(BitmapResource(CurrentBitmapId()));
    QPainter painter(viewport());
    painter.drawImage(viewport()->rect(), bitmap);
}

void CMdiBackground::resizeEvent(QResizeEvent* pEvent) {
    QMdiArea::resizeEvent(pEvent);
    viewport()->update();
}

void CMdiBackground::timerEvent(QTimerEvent* pEvent) {
    // The MDI area runs timers of its own (layout, window switching).
    if (pEvent->timerId() != m_timer.timerId()) {
        QMdiArea::timerEvent(pEvent);
        return;
    }
    m_bAlternate = !m_bAlternate;
    viewport()->update();
}
