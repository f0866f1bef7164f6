#include "CAboutDlg.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace {

// Where no font is called 宋体, a Chinese face stands in for it, so that the
// box's Chinese texts are drawn, not replaced by empty boxes.
QFont DialogFont() {
    static const bool s_bSubstituted = [] {
        QFont::insertSubstitutions(QStringLiteral("宋体"),
                                   {QStringLiteral("SimSun"), QStringLiteral("AR PL UMing CN"),
                                    QStringLiteral("WenQuanYi Micro Hei"),
                                    QStringLiteral("Noto Sans CJK SC")});
        return true;
    }();
    (void)s_bSubstituted;
    return QFont(QStringLiteral("宋体"), 9);
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent), m_linkHome(this), m_linkMail(this) {
    setWindowTitle(QStringLiteral("关于 wirelet"));
    setFont(DialogFont());
    setModal(true);
    // The base units of the dialog's font: the average width of the Latin
    // letters, rounded, and the font's height.
    const QFontMetrics fm(font());
    const QString strLetters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_nBaseX = (fm.horizontalAdvance(strLetters) / 26 + 1) / 2;
    m_nBaseY = fm.height();
    setFixedSize(MapDialogRect(0, 0, 252, 143).size());

    QLabel* pIcon = new QLabel(this);
    pIcon->setGeometry(MapDialogRect(11, 17, 20, 20));
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_ComputerIcon);
    pIcon->setPixmap(icon.pixmap(pIcon->size()));
    pIcon->setAccessibleName(QStringLiteral("wirelet"));
    AddStatic(QStringLiteral("wirelet 2.0 版"), 40, 10, 119, 8);
    AddStatic(QStringLiteral("串口监视器 (C) 2026 wirelet"), 40, 25, 119, 8);
    QPushButton* pOk = new QPushButton(QStringLiteral("确定"), this);
    pOk->setGeometry(MapDialogRect(38, 101, 50, 14));
    pOk->setDefault(true);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
    AddStatic(QStringLiteral("主页:"), 40, 56, 30, 11);
    m_linkHome.setText(QStringLiteral("wirelet.dev"));
    m_linkHome.setGeometry(MapDialogRect(77, 56, 101, 13));
    AddStatic(QStringLiteral("Email: "), 39, 76, 33, 11);
    m_linkMail.setText(QStringLiteral("wirelet@wirelet.dev"));
    m_linkMail.setGeometry(MapDialogRect(77, 76, 63, 12));
    // Tab order follows the template: the button, then the links.
    setTabOrder(pOk, &m_linkHome);
    setTabOrder(&m_linkHome, &m_linkMail);
    OnInitDialog();
    pOk->setFocus();
}

QRect CAboutDlg::MapDialogRect(int x, int y, int cx, int cy) const {
    const auto mapX = [this](int n) { return (n * m_nBaseX + 2) / 4; };
    const auto mapY = [this](int n) { return (n * m_nBaseY + 4) / 8; };
    return QRect(mapX(x), mapY(y), mapX(cx), mapY(cy));
}

void CAboutDlg::AddStatic(const QString& strText, int x, int y, int cx, int cy) {
    QLabel* pLabel = new QLabel(strText, this);
    pLabel->setTextFormat(Qt::PlainText);
    pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pLabel->setGeometry(MapDialogRect(x, y, cx, cy));
}

void CAboutDlg::OnInitDialog() {
    for (CLinkLabel* pLink : {&m_linkHome, &m_linkMail}) {
        pLink->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        pLink->Attach();
    }
    m_linkHome.SetTarget(QString::fromLatin1(HOME_TARGET));
    m_linkHome.SetUnderlined(true);
    m_linkMail.SetTarget(QString::fromLatin1(MAIL_TARGET));
    m_linkMail.SetUnderlined(false);
}
