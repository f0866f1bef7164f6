#include "CTimelineView.h"

#include "CTimelineModel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace {

// Where each column starts, in characters of the fixed-pitch font.
constexpr int COLUMN_TIME = 0;
constexpr int COLUMN_DIRECTION = 17;
constexpr int COLUMN_PROCESS = 19;
constexpr int PROCESS_CHARS = 22;
constexpr int COLUMN_HEX = 42;
constexpr int COLUMN_CHARS = COLUMN_HEX + 3 * CTimelineModel::LINE_BYTES + 1;
constexpr int LINE_CHARS = COLUMN_CHARS + 60; // room for an event's words
constexpr int MARGIN = 4;

const QColor MATCH_COLOUR(255, 230, 80);
const QColor OTHER_PROCESS_COLOUR(200, 0, 0);

QString DirectionMark(unsigned nDirection) {
    switch (nDirection) {
    case CTimelineModel::DIRECTION_WRITTEN:
        return QStringLiteral(">");
    case CTimelineModel::DIRECTION_READ:
        return QStringLiteral("<");
    default:
        return QStringLiteral("*");
    }
}

// Written and read data keep the panes' sense of the two directions.
QColor TextColour(unsigned nDirection) {
    switch (nDirection) {
    case CTimelineModel::DIRECTION_WRITTEN:
        return QColor(0, 0, 160);
    case CTimelineModel::DIRECTION_READ:
        return QColor(0, 110, 0);
    default:
        return QColor(90, 60, 0);
    }
}

} // namespace

CTimelineView::CTimelineView(QWidget* pParent) : QAbstractScrollArea(pParent) {
    setAccessibleName(QStringLiteral("时间线"));
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_font = QFont(QStringLiteral("Monospace"));
    m_font.setStyleHint(QFont::TypeWriter);
    m_font.setFixedPitch(true);
    const QFontMetrics metrics(m_font);
    m_nLineHeight = std::max(1, metrics.height());
    m_nAscent = metrics.ascent();
    m_nCharWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    m_refreshTimer.setInterval(REFRESH_MS);
    connect(&m_refreshTimer, &QTimer::timeout, this, &CTimelineView::Refresh);
    m_refreshTimer.start();
}

void CTimelineView::SetModel(CTimelineModel* pModel) {
    m_pModel = pModel;
    m_nCurrent.reset();
    m_qwRevision = pModel != nullptr ? pModel->Revision() - 1 : 0;
    verticalScrollBar()->setValue(0);
    Refresh();
}

QColor CTimelineView::ProcessColour(int nColour) {
    static const QColor PALETTE[CTimelineModel::PALETTE_SIZE] = {
        QColor(255, 255, 255), QColor(232, 240, 255), QColor(255, 240, 224),
        QColor(232, 248, 232), QColor(248, 232, 248), QColor(240, 240, 224),
    };
    return nColour >= 0 ? PALETTE[nColour % CTimelineModel::PALETTE_SIZE] : QColor(244, 244, 244);
}

int CTimelineView::VisibleLines() const {
    return std::max(1, viewport()->height() / m_nLineHeight);
}

void CTimelineView::Refresh() {
    if (m_pModel == nullptr || m_pModel->Revision() == m_qwRevision)
        return;
    m_qwRevision = m_pModel->Revision();
    QScrollBar* pBar = verticalScrollBar();
    const bool bAtEnd = pBar->value() >= pBar->maximum();
    UpdateScrollBars();
    if (bAtEnd)
        pBar->setValue(pBar->maximum());
    if (m_nCurrent && *m_nCurrent >= m_pModel->LineCount())
        m_nCurrent.reset();
    viewport()->update();
    emit modelChanged();
}

void CTimelineView::UpdateScrollBars() {
    const std::size_t nLines = m_pModel != nullptr ? m_pModel->LineCount() : 0;
    const int nVisible = VisibleLines();
    verticalScrollBar()->setPageStep(nVisible);
    verticalScrollBar()->setRange(
        0, int(std::min<std::size_t>(INT32_MAX, nLines - std::min<std::size_t>(nLines, nVisible))));
    const int nWidth = LINE_CHARS * m_nCharWidth + 2 * MARGIN;
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, std::max(0, nWidth - viewport()->width()));
}

void CTimelineView::ShowLine(std::size_t nLine) {
    m_nCurrent = nLine;
    QScrollBar* pBar = verticalScrollBar();
    const int nLineIndex = int(std::min<std::size_t>(nLine, INT32_MAX));
    if (nLineIndex < pBar->value())
        pBar->setValue(nLineIndex);
    else if (nLineIndex >= pBar->value() + VisibleLines())
        pBar->setValue(nLineIndex - VisibleLines() + 1);
    DescribeCurrentLine();
    viewport()->update();
}

// A screen reader hears the framed line as the view's description.
void CTimelineView::DescribeCurrentLine() {
    if (m_pModel == nullptr || !m_nCurrent || *m_nCurrent >= m_pModel->LineCount())
        return;
    const CTimelineModel::CLine line = m_pModel->Line(*m_nCurrent);
    QString strText = (line.bOtherProcess ? QStringLiteral("另一进程 ") : QString()) +
                      QString::fromStdString(line.strTime) + u' ' + DirectionMark(line.nDirection) +
                      u' ' + QString::number(line.dwPid) + u' ' +
                      QString::fromStdString(line.strCommand) + u' ';
    if (line.bytes.empty())
        strText += QString::fromStdString(line.strEvent);
    for (const std::uint8_t byValue : line.bytes)
        strText += QStringLiteral("%1 ").arg(byValue, 2, 16, QLatin1Char('0')).toUpper();
    setAccessibleDescription(strText);
}

void CTimelineView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), ProcessColour(-1));
    if (m_pModel == nullptr)
        return;
    painter.setFont(m_font);
    painter.translate(MARGIN - horizontalScrollBar()->value(), 0);
    const std::size_t nFirst = std::size_t(verticalScrollBar()->value());
    const std::size_t nEnd =
        std::min(m_pModel->LineCount(), nFirst + std::size_t(VisibleLines()) + 1);
    for (std::size_t nLine = nFirst; nLine < nEnd; ++nLine)
        DrawLine(painter, nLine, int(nLine - nFirst) * m_nLineHeight);
}

void CTimelineView::DrawLine(QPainter& painter, std::size_t nLine, int y) const {
    const CTimelineModel::CLine line = m_pModel->Line(nLine);
    const int nWidth = LINE_CHARS * m_nCharWidth;
    painter.fillRect(-MARGIN, y, nWidth + 2 * MARGIN, m_nLineHeight, ProcessColour(line.nColour));
    const auto x = [this](int nColumn) { return nColumn * m_nCharWidth; };
    const int nBase = y + m_nAscent;
    if (!line.bContinuation) {
        painter.setPen(Qt::black);
        painter.drawText(x(COLUMN_TIME), nBase, QString::fromStdString(line.strTime));
        // Another process at work on the port is marked before its row's
        // direction.
        painter.setPen(line.bOtherProcess ? OTHER_PROCESS_COLOUR : Qt::black);
        painter.drawText(x(COLUMN_DIRECTION - 1), nBase,
                         (line.bOtherProcess ? QStringLiteral("!") : QStringLiteral(" ")) +
                             DirectionMark(line.nDirection));
        if (line.dwPid != 0) {
            const QString strProcess =
                QString::number(line.dwPid) + u' ' + QString::fromStdString(line.strCommand);
            painter.drawText(x(COLUMN_PROCESS), nBase, strProcess.left(PROCESS_CHARS - 1));
        }
    }
    painter.setPen(TextColour(line.nDirection));
    if (line.bytes.empty()) {
        if (line.wMatched & 1)
            painter.fillRect(x(COLUMN_HEX), y, x(int(line.strEvent.size())), m_nLineHeight,
                             MATCH_COLOUR);
        painter.drawText(x(COLUMN_HEX), nBase, QString::fromStdString(line.strEvent));
    } else {
        QString strHex, strChars;
        for (std::size_t i = 0; i < line.bytes.size(); ++i) {
            const std::uint8_t byValue = line.bytes[i];
            if (line.wMatched & (1u << i)) {
                painter.fillRect(x(COLUMN_HEX + 3 * int(i)), y, x(2), m_nLineHeight, MATCH_COLOUR);
                painter.fillRect(x(COLUMN_CHARS + int(i)), y, x(1), m_nLineHeight, MATCH_COLOUR);
            }
            strHex += QStringLiteral("%1 ").arg(byValue, 2, 16, QLatin1Char('0')).toUpper();
            strChars += byValue < 0x20 ? QChar(u'.') : QChar(char16_t(byValue));
        }
        painter.drawText(x(COLUMN_HEX), nBase, strHex);
        painter.drawText(x(COLUMN_CHARS), nBase, strChars);
    }
    if (m_nCurrent == nLine) {
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.drawRect(-MARGIN + 1, y, nWidth + 2 * MARGIN - 3, m_nLineHeight - 1);
    }
}

void CTimelineView::resizeEvent(QResizeEvent* pEvent) {
    QAbstractScrollArea::resizeEvent(pEvent);
    const bool bAtEnd = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
    UpdateScrollBars();
    if (bAtEnd)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void CTimelineView::showEvent(QShowEvent* pEvent) {
    QAbstractScrollArea::showEvent(pEvent);
    Refresh();
}

void CTimelineView::keyPressEvent(QKeyEvent* pEvent) {
    const std::size_t nLines = m_pModel != nullptr ? m_pModel->LineCount() : 0;
    if (nLines == 0) {
        QAbstractScrollArea::keyPressEvent(pEvent);
        return;
    }
    const std::size_t nPage = std::size_t(VisibleLines());
    const std::size_t nCurrent =
        m_nCurrent.value_or(std::size_t(verticalScrollBar()->value()) + nPage - 1);
    std::size_t nNext = nCurrent;
    switch (pEvent->key()) {
    case Qt::Key_Up:
        nNext = nCurrent > 0 ? nCurrent - 1 : 0;
        break;
    case Qt::Key_Down:
        nNext = nCurrent + 1;
        break;
    case Qt::Key_PageUp:
        nNext = nCurrent - std::min(nCurrent, nPage);
        break;
    case Qt::Key_PageDown:
        nNext = nCurrent + nPage;
        break;
    case Qt::Key_Home:
        nNext = 0;
        break;
    case Qt::Key_End:
        nNext = nLines - 1;
        break;
    default:
        QAbstractScrollArea::keyPressEvent(pEvent);
        return;
    }
    ShowLine(std::min(nNext, nLines - 1));
}

void CTimelineView::mousePressEvent(QMouseEvent* pEvent) {
    setFocus(Qt::MouseFocusReason);
    if (m_pModel == nullptr)
        return;
    const std::size_t nLine =
        std::size_t(verticalScrollBar()->value()) + std::size_t(pEvent->pos().y() / m_nLineHeight);
    if (nLine < m_pModel->LineCount())
        ShowLine(nLine);
}
