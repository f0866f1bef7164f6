#include "CStatusBar.h"

#include "KeyboardLocks.h"
#include "Resource.h"

#include <QLabel>

CStatusBar::CStatusBar(QWidget* pParent)
    : QStatusBar(pParent),
      m_wndIdleText(new QLabel(QString::fromUtf8(LoadResourceString(AFX_IDS_IDLEMESSAGE)))) {
    setAccessibleName(QString::fromUtf8("状态栏"));
    addWidget(m_wndIdleText, 1);
    constexpr UINT INDICATORS[] = {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL};
    for (int i = 0; i < 3; ++i) {
        const QString strName = QString::fromUtf8(LoadResourceString(INDICATORS[i]));
        auto* pLabel = new QLabel;
        pLabel->setAccessibleName(strName);
        pLabel->setProperty("indicatorText", strName);
        pLabel->setMinimumWidth(pLabel->fontMetrics().horizontalAdvance(strName) + 8);
        pLabel->setAlignment(Qt::AlignCenter);
        addPermanentWidget(pLabel);
        m_wndIndicators[i] = pLabel;
    }
}

void CStatusBar::ShowPortNotice(const QString& strPortName, const QString& strText) {
    m_portNotices[strPortName] = strText;
    ShowPortNotices();
}

void CStatusBar::ForgetPort(const QString& strPortName) {
    if (m_portNotices.erase(strPortName) != 0)
        ShowPortNotices();
}

void CStatusBar::ShowPortNotices() {
    QStringList lines;
    for (const auto& [strPort, strNotice] : m_portNotices)
        lines << strPort + QStringLiteral(": ") + strNotice;
    m_wndIdleText->setText(lines.isEmpty()
                               ? QString::fromUtf8(LoadResourceString(AFX_IDS_IDLEMESSAGE))
                               : lines.join(QString::fromUtf8("；")));
    clearMessage();
}

void CStatusBar::UpdateIndicators() {
    const std::optional<unsigned> locks = KeyboardLocks::Query();
    constexpr unsigned BITS[] = {KeyboardLocks::CAPS, KeyboardLocks::NUM, KeyboardLocks::SCROLL};
    for (int i = 0; i < 3; ++i) {
        const bool bOn = locks.has_value() && (*locks & BITS[i]) != 0;
        m_wndIndicators[i]->setText(bOn ? m_wndIndicators[i]->property("indicatorText").toString()
                                        : QString());
    }
}
