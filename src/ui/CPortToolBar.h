// The port toolbar: the command buttons and, in their middle, the port list.
#pragma once

#include <QComboBox>
#include <QToolBar>

class CPortToolBar : public QToolBar {
    Q_OBJECT
public:
    static constexpr int COMBO_WIDTH = 80;

    explicit CPortToolBar(QWidget* pParent = nullptr);

    QComboBox* m_wndPortCombo;
};
