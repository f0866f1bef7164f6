#include "CPortToolBar.h"

CPortToolBar::CPortToolBar(QWidget* pParent) : QToolBar(pParent), m_wndPortCombo(new QComboBox) {
    setObjectName(QStringLiteral("PortToolBar"));
    setWindowTitle(QString::fromUtf8("工具栏"));
    setAccessibleName(windowTitle());
    setMovable(false);
    setFloatable(false);
    m_wndPortCombo->setMinimumWidth(COMBO_WIDTH);
    m_wndPortCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_wndPortCombo->setAccessibleName(QString::fromUtf8("串口"));
    m_wndPortCombo->setToolTip(QString::fromUtf8("串口"));
}
