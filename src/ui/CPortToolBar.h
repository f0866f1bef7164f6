// The port toolbar: the command buttons and, in their middle, the port list.
#pragma once

#include "CFlatComboBox.h"

#include <QToolBar>

class CPortToolBar : public QToolBar {
    Q_OBJECT
public:
    static constexpr int COMBO_WIDTH = 80;

    explicit CPortToolBar(QWidget* pParent = nullptr);

    CFlatComboBox* m_wndPortCombo;

protected:
    bool event(QEvent* pEvent) override;

private:
    bool m_bActivated = false;
};
