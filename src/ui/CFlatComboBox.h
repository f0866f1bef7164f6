// The port list's combo box: flat in the button colour while the pointer is
// elsewhere, raised while it hovers, with a sunken drop button while the left
// button is down on it. Hover is found by polling the pointer every 10 ms
// from a mouse move until the pointer has left; the list, the selection, the
// keyboard and the signals are the plain combo box's.
#pragma once

#include <QBasicTimer>
#include <QComboBox>
#include <QPalette>

class CFlatComboBox : public QComboBox {
    Q_OBJECT
public:
    enum ELook { LOOK_NORMAL = 1, LOOK_RAISED = 2, LOOK_PRESSED = 4 };
    static constexpr int HOVER_INTERVAL_MS = 10;

    explicit CFlatComboBox(QWidget* pParent = nullptr);

    // The hover step, run by every tick of the hover timer.
    void OnTimer();
    bool IsTracking() const { return m_timer.isActive(); }
    static bool IsHighlighted() { return s_bHighlighted; }

    // The box keeps its own width; the list it drops is as wide as its
    // longest item, whatever the style makes of it.
    void showPopup() override;
    void hidePopup() override;

protected:
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    // Shows the look with the outer ring in the two colours, now.
    void DrawCombo(int nLook, QPalette::ColorRole eOuterTopLeft,
                   QPalette::ColorRole eOuterBottomRight);
    void PaintLook(QPainter& painter) const;

    static bool s_bHighlighted;
    bool m_bLButtonDown = false;
    int m_nLook = LOOK_NORMAL;
    QPalette::ColorRole m_eOuterTopLeft = QPalette::Button;
    QPalette::ColorRole m_eOuterBottomRight = QPalette::Button;
    QBasicTimer m_timer;
};
