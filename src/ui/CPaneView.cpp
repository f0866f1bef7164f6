#include "CPaneView.h"

#include "CWireletDoc.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

constexpr int MARGIN = 2; // pixels left of the text, as the edit control leaves
constexpr int MONITOR_FONT_PIXELS = 13;

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

bool IsWordChar(char16_t ch) {
    return ch != u' ' && ch != u'\t' && ch != u'\r' && ch != u'\n';
}

} // namespace

QFont CPaneView::MonitorFont() {
    QFont font(QStringLiteral("Courier"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setBold(true);
    font.setPixelSize(MONITOR_FONT_PIXELS);
    return font;
}

CPaneView::CPaneView(const CPaneStyle& style, QWidget* pParent)
    : QAbstractScrollArea(pParent), m_style(style) {
    m_ownStore.AddObserver(this);
    setAccessibleName(style.strName);
    setAccessibleDescription(style.strExportTitle);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    SetPaneFont(QFont(QStringLiteral("Monospace")));
    SetTabStops({});
}

void CPaneView::SetPaneFont(const QFont& font) {
    m_font = font;
    const QFontMetricsF metrics(m_font, viewport());
    std::array<double, 256> advances{};
    for (int i = 0; i < 256; ++i)
        advances[i] = i < 0x20 ? 0 : metrics.horizontalAdvance(QChar(i));
    m_layout.SetAdvances(advances, metrics.averageCharWidth());
    m_rawFont = QRawFont::fromFont(m_font);
    m_glyphs.fill(0);
    for (int i = 0; i < 256; ++i)
        m_glyphs[i] = Glyph(static_cast<char16_t>(i));
    m_nLineHeight = std::max(1, static_cast<int>(std::ceil(metrics.height())));
    m_nAscent = static_cast<int>(std::ceil(metrics.ascent()));
    Relayout();
}

void CPaneView::SetTabStops(std::span<const int> dialogUnits) {
    m_layout.SetTabStops(dialogUnits, 2.0 * logicalDpiX() / 96.0);
    Relayout();
}

// A new font or new stops move every line: the one time all are measured.
void CPaneView::Relayout() {
    m_dMaxWidth = 0;
    MeasureFrom(0);
    ScheduleFlush();
}

CPaneView::~CPaneView() {
    m_pStore->RemoveObserver(this);
}

void CPaneView::OnDocumentChanged() {
    ShowStore(GetDocument() != nullptr ? &StoreOf(*GetDocument()) : &m_ownStore);
}

void CPaneView::OnUpdate(CView* pSender, long lHint) {
    (void)pSender;
    if (lHint != CWireletDoc::HINT_MONITOR_STARTED)
        return;
    SetPaneFont(MonitorFont());
    SetTabStops(MONITOR_TAB_STOPS);
}

void CPaneView::ShowStore(CPaneStore* pStore) {
    if (pStore == m_pStore)
        return;
    m_pStore->RemoveObserver(this);
    m_pStore = pStore;
    m_pStore->AddObserver(this);
    OnStoreCleared();
    MeasureFrom(0);
    m_bScrollPending = true;
    m_nScrollTo = m_pStore->TextLength();
}

void CPaneView::OnLinesDropped(std::size_t nChars, int nLines) {
    const auto shift = [nChars](std::size_t& nOffset) {
        nOffset = nOffset > nChars ? nOffset - nChars : 0;
    };
    shift(m_nAnchor);
    shift(m_nCaret);
    shift(m_nScrollTo);
    m_nDroppedLines += nLines;
    ScheduleFlush();
}

void CPaneView::OnStoreCleared() {
    m_nAnchor = m_nCaret = m_nScrollTo = 0;
    m_dMaxWidth = 0;
    m_nDroppedLines = 0;
    m_bScrollPending = false;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    ScheduleFlush();
}

// Only the lines from nFirstLine on changed: measuring them costs what the
// edit wrote (the formatter only ever rewrites the last lines).
void CPaneView::OnStoreEdited(int nFirstLine, std::size_t nScrollTo, bool bScroll) {
    const std::size_t nLength = m_pStore->TextLength();
    m_nAnchor = std::min(m_nAnchor, nLength);
    m_nCaret = std::min(m_nCaret, nLength);
    MeasureFrom(nFirstLine);
    if (bScroll) {
        m_bScrollPending = true;
        m_nScrollTo = std::min(nScrollTo, nLength);
    }
    ScheduleFlush();
}

void CPaneView::MeasureFrom(int nFirstLine) {
    for (int nLine = std::max(0, nFirstLine); nLine < m_pStore->LineCount(); ++nLine) {
        const auto line = m_pStore->LineText(nLine);
        m_dMaxWidth = std::max(m_dMaxWidth, m_layout.XOf(line, line.size()));
    }
}

void CPaneView::ScheduleFlush() {
    if (m_bFlushPending)
        return;
    m_bFlushPending = true;
    QMetaObject::invokeMethod(this, &CPaneView::Flush, Qt::QueuedConnection);
}

void CPaneView::Flush() {
    m_bFlushPending = false;
    QScrollBar* pVertical = verticalScrollBar();
    if (m_nDroppedLines > 0) {
        pVertical->setValue(pVertical->value() - m_nDroppedLines);
        m_nDroppedLines = 0;
    }
    UpdateScrollBars();
    if (m_bScrollPending) {
        m_bScrollPending = false;
        EnsureVisible(m_nScrollTo);
    }
    viewport()->update();
}

int CPaneView::VisibleLines() const {
    return std::max(1, viewport()->height() / m_nLineHeight);
}

void CPaneView::UpdateScrollBars() {
    const int nPage = VisibleLines();
    verticalScrollBar()->setPageStep(nPage);
    verticalScrollBar()->setRange(0, std::max(0, m_pStore->LineCount() - nPage));
    const int nWidth = static_cast<int>(std::ceil(m_dMaxWidth)) + 2 * MARGIN;
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(std::max(1, m_nLineHeight));
    horizontalScrollBar()->setRange(0, std::max(0, nWidth - viewport()->width()));
}

void CPaneView::EnsureVisible(std::size_t nOffset) {
    UpdateScrollBars();
    const int nLine = m_pStore->LineFromChar(nOffset);
    QScrollBar* pVertical = verticalScrollBar();
    if (nLine < pVertical->value())
        pVertical->setValue(nLine);
    else if (nLine >= pVertical->value() + VisibleLines())
        pVertical->setValue(nLine - VisibleLines() + 1);
    const auto line = m_pStore->LineText(nLine);
    const int x = static_cast<int>(m_layout.XOf(line, nOffset - m_pStore->LineIndex(nLine)));
    QScrollBar* pHorizontal = horizontalScrollBar();
    const int nWidth = viewport()->width() - 2 * MARGIN;
    if (x < pHorizontal->value())
        pHorizontal->setValue(x);
    else if (x > pHorizontal->value() + nWidth)
        pHorizontal->setValue(x - nWidth);
}

std::pair<std::size_t, std::size_t> CPaneView::Selection() const {
    return std::minmax(m_nAnchor, m_nCaret);
}

void CPaneView::SetSelection(std::size_t nAnchor, std::size_t nCaret) {
    m_nAnchor = std::min(nAnchor, m_pStore->TextLength());
    MoveCaret(nCaret, true);
}

void CPaneView::SelectAll() {
    SetSelection(0, m_pStore->TextLength());
}

void CPaneView::Copy() {
    if (!HasSelection())
        return;
    const auto [nStart, nEnd] = Selection();
    QApplication::clipboard()->setText(ToQString(m_pStore->View().substr(nStart, nEnd - nStart)));
}

void CPaneView::MoveCaret(std::size_t nCaret, bool bExtend) {
    m_nCaret = std::min(nCaret, m_pStore->TextLength());
    if (!bExtend)
        m_nAnchor = m_nCaret;
    EnsureVisible(m_nCaret);
    viewport()->update();
}

// The keys the pane handles itself win over shortcuts of the same keys.
bool CPaneView::event(QEvent* pEvent) {
    if (pEvent->type() == QEvent::ShortcutOverride) {
        auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (pKey == QKeySequence::Copy || pKey == QKeySequence::SelectAll) {
            pEvent->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(pEvent);
}

void CPaneView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), m_style.crBack);
    painter.setFont(m_font);
    const int nTop = verticalScrollBar()->value();
    const int nBottom = std::min(m_pStore->LineCount(), nTop + VisibleLines() + 1);
    for (int nLine = nTop; nLine < nBottom; ++nLine)
        DrawLine(painter, nLine, double(nLine - nTop) * m_nLineHeight);
    if (hasFocus()) {
        const int nLine = m_pStore->LineFromChar(m_nCaret);
        const double x =
            m_layout.XOf(m_pStore->LineText(nLine), m_nCaret - m_pStore->LineIndex(nLine));
        const double y = double(nLine - nTop) * m_nLineHeight;
        painter.fillRect(QRectF(x + MARGIN - horizontalScrollBar()->value(), y, 1, m_nLineHeight),
                         m_style.crText);
    }
}

// Latin-1, which is all the formatter writes, is looked up once per font.
quint32 CPaneView::Glyph(char16_t ch) const {
    if (ch < 256 && m_glyphs[ch] != 0)
        return m_glyphs[ch];
    const QChar qch(ch);
    quint32 nGlyph = 0;
    int nCount = 1;
    m_rawFont.glyphIndexesForChars(&qch, 1, &nGlyph, &nCount);
    return nGlyph;
}

// Draws the line as at most two glyph runs, plain and selected, with each
// glyph at the x the layout gives it, so columns line up whatever the line
// holds.
void CPaneView::DrawLine(QPainter& painter, int nLine, double y) const {
    const auto line = m_pStore->LineText(nLine);
    const std::size_t nLineStart = m_pStore->LineIndex(nLine);
    const auto [nSelStart, nSelEnd] = Selection();
    const double dLeft = MARGIN - horizontalScrollBar()->value();
    const double dRight = viewport()->width();
    QList<quint32> glyphs[2];
    QList<QPointF> positions[2];
    double xSelStart = -1, xSelEnd = -1;
    double x = 0;
    for (std::size_t i = 0; i < line.size() && dLeft + x < dRight; ++i) {
        const bool bSelected = nLineStart + i >= nSelStart && nLineStart + i < nSelEnd;
        const double xNext = m_layout.Step(line[i], x);
        if (bSelected) {
            xSelStart = xSelStart < 0 ? x : xSelStart;
            xSelEnd = xNext;
        }
        if (line[i] != u'\t' && dLeft + xNext > 0) {
            glyphs[bSelected].push_back(Glyph(line[i]));
            positions[bSelected].push_back(QPointF(x, 0));
        }
        x = xNext;
    }
    const QPalette& palette = this->palette();
    if (xSelStart >= 0)
        painter.fillRect(QRectF(dLeft + xSelStart, y, xSelEnd - xSelStart, m_nLineHeight),
                         palette.color(QPalette::Active, QPalette::Highlight));
    const QColor colours[2] = {m_style.crText,
                               palette.color(QPalette::Active, QPalette::HighlightedText)};
    for (int n = 0; n < 2; ++n) {
        if (glyphs[n].isEmpty())
            continue;
        QGlyphRun run;
        run.setRawFont(m_rawFont);
        run.setGlyphIndexes(glyphs[n]);
        run.setPositions(positions[n]);
        painter.setPen(colours[n]);
        painter.drawGlyphRun(QPointF(dLeft, y + m_nAscent), run);
    }
}

void CPaneView::resizeEvent(QResizeEvent* pEvent) {
    QAbstractScrollArea::resizeEvent(pEvent);
    UpdateScrollBars();
}

std::size_t CPaneView::CaretAfterKey(int nKey, bool bControl) const {
    const int nLine = m_pStore->LineFromChar(m_nCaret);
    const std::size_t nLineStart = m_pStore->LineIndex(nLine);
    const auto line = m_pStore->LineText(nLine);
    const auto offsetOnLine = [&](int nTarget) {
        nTarget = std::clamp(nTarget, 0, m_pStore->LineCount() - 1);
        const auto text = m_pStore->LineText(nTarget);
        const double x = m_dGoalX >= 0 ? m_dGoalX : m_layout.XOf(line, m_nCaret - nLineStart);
        return m_pStore->LineIndex(nTarget) + m_layout.IndexAt(text, x);
    };
    switch (nKey) {
    case Qt::Key_Left:
        if (m_nCaret == nLineStart)
            return nLine > 0 ? nLineStart - 2 : 0;
        return m_nCaret - 1;
    case Qt::Key_Right:
        if (m_nCaret == nLineStart + line.size())
            return nLine + 1 < m_pStore->LineCount() ? m_pStore->LineIndex(nLine + 1) : m_nCaret;
        return m_nCaret + 1;
    case Qt::Key_Up:
        return offsetOnLine(nLine - 1);
    case Qt::Key_Down:
        return offsetOnLine(nLine + 1);
    case Qt::Key_PageUp:
        return offsetOnLine(nLine - VisibleLines());
    case Qt::Key_PageDown:
        return offsetOnLine(nLine + VisibleLines());
    case Qt::Key_Home:
        return bControl ? 0 : nLineStart;
    case Qt::Key_End:
        return bControl ? m_pStore->TextLength() : nLineStart + line.size();
    default:
        return m_nCaret;
    }
}

void CPaneView::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent == QKeySequence::Copy) {
        Copy();
        return;
    }
    if (pEvent == QKeySequence::SelectAll) {
        SelectAll();
        return;
    }
    const int nKey = pEvent->key();
    const bool bVertical = nKey == Qt::Key_Up || nKey == Qt::Key_Down || nKey == Qt::Key_PageUp ||
                           nKey == Qt::Key_PageDown;
    const bool bMoves = bVertical || nKey == Qt::Key_Left || nKey == Qt::Key_Right ||
                        nKey == Qt::Key_Home || nKey == Qt::Key_End;
    if (!bMoves) {
        QAbstractScrollArea::keyPressEvent(pEvent);
        return;
    }
    if (bVertical && m_dGoalX < 0) {
        const int nLine = m_pStore->LineFromChar(m_nCaret);
        m_dGoalX = m_layout.XOf(m_pStore->LineText(nLine), m_nCaret - m_pStore->LineIndex(nLine));
    }
    const std::size_t nCaret = CaretAfterKey(nKey, pEvent->modifiers() & Qt::ControlModifier);
    if (!bVertical)
        m_dGoalX = -1;
    MoveCaret(nCaret, pEvent->modifiers() & Qt::ShiftModifier);
}

std::size_t CPaneView::OffsetAt(QPoint pos) const {
    const int nRow = pos.y() >= 0 ? pos.y() / m_nLineHeight : -1 - (-pos.y() / m_nLineHeight);
    const int nLine = std::clamp(verticalScrollBar()->value() + nRow, 0, m_pStore->LineCount() - 1);
    const double x = pos.x() - MARGIN + horizontalScrollBar()->value();
    return m_pStore->LineIndex(nLine) + m_layout.IndexAt(m_pStore->LineText(nLine), x);
}

void CPaneView::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton)
        return;
    m_dGoalX = -1;
    MoveCaret(OffsetAt(pEvent->position().toPoint()), pEvent->modifiers() & Qt::ShiftModifier);
}

void CPaneView::mouseMoveEvent(QMouseEvent* pEvent) {
    if (pEvent->buttons() & Qt::LeftButton)
        MoveCaret(OffsetAt(pEvent->position().toPoint()), true);
}

void CPaneView::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton)
        return;
    const std::u16string_view text = m_pStore->View();
    std::size_t nStart = OffsetAt(pEvent->position().toPoint());
    std::size_t nEnd = nStart;
    while (nStart > 0 && IsWordChar(text[nStart - 1]))
        --nStart;
    while (nEnd < text.size() && IsWordChar(text[nEnd]))
        ++nEnd;
    SetSelection(nStart, nEnd);
}

void CPaneView::focusInEvent(QFocusEvent* pEvent) {
    QAbstractScrollArea::focusInEvent(pEvent);
    viewport()->update();
    emit focusEntered();
}

void CPaneView::focusOutEvent(QFocusEvent* pEvent) {
    QAbstractScrollArea::focusOutEvent(pEvent);
    viewport()->update();
}
