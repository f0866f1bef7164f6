#include "CCounterBar.h"

#include <QLabel>
#include <QLineEdit>

namespace {

QLineEdit* MakeCountBox(QLabel* pLabel) {
    auto* pBox = new QLineEdit;
    pBox->setReadOnly(true);
    pBox->setFixedWidth(CCounterBar::CELL_WIDTH);
    pBox->setAccessibleName(pLabel->text());
    pLabel->setBuddy(pBox);
    return pBox;
}

QLabel* MakeLabel(const char* pszText) {
    auto* pLabel = new QLabel(QString::fromUtf8(pszText));
    pLabel->setFixedWidth(CCounterBar::CELL_WIDTH);
    return pLabel;
}

} // namespace

CCounterBar::CCounterBar(QWidget* pParent)
    : QToolBar(pParent), m_wndRecvLabel(MakeLabel("接收字符数")),
      m_wndSendLabel(MakeLabel("发送字符数")), m_wndRecvCount(MakeCountBox(m_wndRecvLabel)),
      m_wndSendCount(MakeCountBox(m_wndSendLabel)) {
    setObjectName(QStringLiteral("CounterBar"));
    setWindowTitle(QString::fromUtf8("字符计数"));
    setAccessibleName(windowTitle());
    setMovable(false);
    setFloatable(false);
    addWidget(m_wndRecvLabel);
    addWidget(m_wndRecvCount);
    addSeparator();
    addWidget(m_wndSendLabel);
    addWidget(m_wndSendCount);
}

void CCounterBar::SetRecvCount(std::u16string_view text) {
    m_wndRecvCount->setText(QString::fromUtf16(text.data(), qsizetype(text.size())));
}

void CCounterBar::SetSendCount(std::u16string_view text) {
    m_wndSendCount->setText(QString::fromUtf16(text.data(), qsizetype(text.size())));
}
