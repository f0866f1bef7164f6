#include "CPortToolBar.h"

#include <QAbstractItemView>

CPortToolBar::CPortToolBar(QWidget* pParent)
    : QToolBar(pParent), m_wndPortCombo(new CFlatComboBox) {
    setObjectName(QStringLiteral("PortToolBar"));
    setWindowTitle(QString::fromUtf8("工具栏"));
    setAccessibleName(windowTitle());
    setMovable(false);
    setFloatable(false);
    // The list drops down as wide as its longest port name.
    m_wndPortCombo->setFixedWidth(COMBO_WIDTH);
    m_wndPortCombo->view()->setTextElideMode(Qt::ElideNone);
    m_wndPortCombo->setAccessibleName(QString::fromUtf8("串口"));
    m_wndPortCombo->setToolTip(QString::fromUtf8("串口"));
}
