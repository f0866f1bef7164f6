#include "CPortToolBar.h"

#include <QAbstractItemView>
#include <QEvent>

CPortToolBar::CPortToolBar(QWidget* pParent)
    : QToolBar(pParent), m_wndPortCombo(new CFlatComboBox) {
    setObjectName(QStringLiteral("PortToolBar"));
    setWindowTitle(QString::fromUtf8("工具栏"));
    setAccessibleName(windowTitle());
    setMovable(false);
    setFloatable(false);
    // A long name is cut in the box; its list and its tooltip show it whole.
    m_wndPortCombo->setFixedWidth(COMBO_WIDTH);
    m_wndPortCombo->view()->setTextElideMode(Qt::ElideNone);
    m_wndPortCombo->setAccessibleName(QString::fromUtf8("串口"));
    m_wndPortCombo->setToolTip(m_wndPortCombo->accessibleName());
    connect(m_wndPortCombo, &QComboBox::currentTextChanged, this, [this](const QString& strPort) {
        m_wndPortCombo->setToolTip(strPort.isEmpty() ? m_wndPortCombo->accessibleName() : strPort);
    });
}

// The first thing a user does is pick a port, with or without a mouse. A
// focus given while the window is built does not hold: the toolbar keeps the
// list hidden until it has placed it, and a window does not remember a focus
// given to a hidden box. So the list takes it when its window is first
// active.
bool CPortToolBar::event(QEvent* pEvent) {
    if (pEvent->type() == QEvent::WindowActivate && !m_bActivated) {
        m_bActivated = true;
        m_wndPortCombo->setFocus(Qt::ActiveWindowFocusReason);
    }
    return QToolBar::event(pEvent);
}
