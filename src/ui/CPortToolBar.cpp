#include "CPortToolBar.h"

#include <QAbstractItemView>

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
