// The counters bar under the port toolbar: the received and sent byte totals
// of the monitor window that has the focus, empty while none has shown them.
#pragma once

#include "ICounters.h"

#include <QToolBar>

class QLabel;
class QLineEdit;

class CCounterBar : public QToolBar, public ICounters {
    Q_OBJECT
public:
    static constexpr int CELL_WIDTH = 80;

    explicit CCounterBar(QWidget* pParent = nullptr);

    void SetRecvCount(std::u16string_view text) override;
    void SetSendCount(std::u16string_view text) override;

    QLabel* m_wndRecvLabel;
    QLabel* m_wndSendLabel;
    QLineEdit* m_wndRecvCount;
    QLineEdit* m_wndSendCount;
};
