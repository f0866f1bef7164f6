#include "CLinkLabel.h"

#include "CLinkOpener.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

CLinkLabel::CLinkLabel(QWidget* pParent)
    : QLabel(pParent), m_crHover(palette().color(QPalette::Highlight)) {
    setTextFormat(Qt::PlainText);
}

void CLinkLabel::Attach() {
    if (m_strTarget.isEmpty())
        m_strTarget = text();
    if (text().isEmpty())
        setText(m_strTarget);
    m_bAttached = true;
    ApplyFont();
    FitToText();
    setCursor(Qt::PointingHandCursor);
    setToolTip(m_strTarget);
    setAccessibleDescription(m_strTarget);
    setFocusPolicy(Qt::TabFocus);
    ApplyColour();
}

void CLinkLabel::SetTarget(const QString& strTarget) {
    m_strTarget = strTarget;
    if (!m_bAttached)
        return;
    FitToText();
    setToolTip(m_strTarget);
    setAccessibleDescription(m_strTarget);
}

void CLinkLabel::SetVisited(bool bVisited) {
    m_bVisited = bVisited;
    if (m_bAttached)
        ApplyColour();
}

void CLinkLabel::SetUnderlined(bool bUnderlined) {
    m_bUnderlined = bUnderlined;
    if (m_bAttached)
        ApplyFont();
}

QColor CLinkLabel::TextColour() const {
    return m_bHover ? m_crHover : m_bVisited ? m_crVisited : m_crLink;
}

void CLinkLabel::FitToText() {
    if (!m_bAttached || !m_bFitToText)
        return;
    const QFontMetrics fm(font());
    const int cx = fm.horizontalAdvance(text()), cy = fm.height();
    const QRect rc = geometry();
    int nLeft = rc.left(), nTop = rc.top();
    int nRight = nLeft + rc.width(), nBottom = nTop + rc.height();
    if (alignment() & Qt::AlignVCenter) {
        const int nShrink = (rc.height() - cy) / 2;
        nTop += nShrink;
        nBottom -= nShrink;
    } else {
        nBottom = nTop + cy;
    }
    if (alignment() & Qt::AlignHCenter) {
        const int nShrink = (rc.width() - cx) / 2;
        nLeft += nShrink;
        nRight -= nShrink;
    } else if (alignment() & Qt::AlignRight) {
        nLeft = nRight - cx;
    } else {
        nRight = nLeft + cx;
    }
    setGeometry(nLeft, nTop, nRight - nLeft, nBottom - nTop);
}

void CLinkLabel::ApplyFont() {
    QFont font = this->font();
    font.setUnderline(m_bUnderlined);
    setFont(font);
    update();
}

void CLinkLabel::ApplyColour() {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, TextColour());
    setPalette(pal);
    update();
}

void CLinkLabel::SetHover(bool bHover) {
    if (bHover == m_bHover)
        return;
    m_bHover = bHover;
    ApplyColour();
    repaint();
}

// Qt reports both edges of the pointer's visit, so the hover state needs no
// mouse capture to see the pointer leave.
void CLinkLabel::enterEvent(QEnterEvent* pEvent) {
    QLabel::enterEvent(pEvent);
    SetHover(true);
}

void CLinkLabel::leaveEvent(QEvent* pEvent) {
    QLabel::leaveEvent(pEvent);
    SetHover(false);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* pEvent) {
    QLabel::mouseReleaseEvent(pEvent);
    if (pEvent->button() == Qt::LeftButton && rect().contains(pEvent->position().toPoint()))
        OnClicked();
}

void CLinkLabel::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Space || pEvent->key() == Qt::Key_Return ||
        pEvent->key() == Qt::Key_Enter)
        OnClicked();
    else
        QLabel::keyPressEvent(pEvent);
}

void CLinkLabel::paintEvent(QPaintEvent* pEvent) {
    QLabel::paintEvent(pEvent);
    if (!hasFocus())
        return;
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void CLinkLabel::OnClicked() {
    const int nCode = CLinkOpener::OpenTarget(m_strTarget);
    // A failed open also forgets an earlier success.
    SetVisited(nCode > 32);
    if (m_bVisited)
        return;
    QApplication::beep();
    ShowOpenError(nCode);
}

void CLinkLabel::ShowOpenError(int nCode) {
    QMessageBox::warning(this, QApplication::applicationDisplayName(),
                         CLinkOpener::ErrorText(nCode));
}
