// The main frame's MDI area with a picture behind the monitor windows: bitmap
// 139, then 140, then 139 again, each stretched over the whole client area,
// switching every three minutes from the first paint on.
//
// The main frame uses it in place of a plain QMdiArea:
//     m_wndMdiClient = new CMdiBackground(this);
//     setCentralWidget(m_wndMdiClient);
// and calls m_wndMdiClient->OnDestroy() when it is being destroyed.
#pragma once

#include <QBasicTimer>
#include <QMdiArea>

class CMdiBackground : public QMdiArea {
    Q_OBJECT
public:
    static constexpr int FIRST_BITMAP_ID = 139;
    static constexpr int ALTERNATE_BITMAP_ID = 140;
    static constexpr int SWITCH_INTERVAL_MS = 180000;

    explicit CMdiBackground(QWidget* pParent = nullptr);

    // Takes effect when the switching timer starts, at the first paint.
    void SetSwitchInterval(int nMilliseconds) { m_nSwitchIntervalMs = nMilliseconds; }
    int CurrentBitmapId() const { return m_bAlternate ? ALTERNATE_BITMAP_ID : FIRST_BITMAP_ID; }
    // Stops the switching timer; the frame calls it as it is destroyed.
    void OnDestroy();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;

private:
    bool m_bAlternate = false;
    bool m_bTimerStarted = false;
    int m_nSwitchIntervalMs = SWITCH_INTERVAL_MS;
    QBasicTimer m_timer;
};
