// A read-only traffic pane: the edit control's text and line semantics (IPane)
// held in a line store, of which only the visible lines are drawn. On a
// document the store is the document's, shared by every window on it; a pane
// on none has a store of its own. Edits only change the store; the scroll
// bars, the scroll to the edit and the repaint happen once per event-loop
// turn, so a batch of edits costs what its text costs, however full the pane
// is.
//
// The text never wraps. The selection (mouse, or a caret moved with the
// keyboard, Shift extending it) stays highlighted without the focus and stays
// on its text while leading lines are dropped. Ctrl+C and Ctrl+A work while
// the pane has the focus.
#pragma once

#include "CPaneLayout.h"
#include "CPaneStore.h"
#include "CView.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QRawFont>

#include <array>
#include <span>
#include <utility>

class CPaneView : public QAbstractScrollArea, public IPane, public CView, IPaneObserver {
    Q_OBJECT

public:
    // The monitor's tab stops, in dialog units: each hex pair one 10-unit step
    // after the previous, the character column at 170.
    static constexpr std::array<int, 17> MONITOR_TAB_STOPS = {
        0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 170};
    // The monitor's font: bold "Courier", 13 pixels high.
    static QFont MonitorFont();

    ~CPaneView() override;

    // A monitor that starts gives its panes the monitor's font and tab stops.
    void OnUpdate(CView* pSender, long lHint) override;

    std::size_t TextLength() const override { return m_pStore->TextLength(); }
    int LineCount() const override { return m_pStore->LineCount(); }
    std::ptrdiff_t LineIndex(int nLine) const override { return m_pStore->LineIndex(nLine); }
    std::u16string Text() const override { return m_pStore->Text(); }
    void AppendText(std::u16string_view text) override { m_pStore->AppendText(text); }
    void ReplaceLine(int nLine, std::u16string_view text, bool bScrollCaret) override {
        m_pStore->ReplaceLine(nLine, text, bScrollCaret);
    }
    int RemoveLeadingLines(std::size_t nChars, int nMaxLines) override {
        return m_pStore->RemoveLeadingLines(nChars, nMaxLines);
    }
    void Clear() override { m_pStore->Clear(); }

    void SetPaneFont(const QFont& font);
    // Tab stops in dialog units (4 units are 8 pixels at 96 dpi); empty for
    // the default of one every 32 units.
    void SetTabStops(std::span<const int> dialogUnits);

    bool HasSelection() const { return m_nAnchor != m_nCaret; }
    // Character offsets of the selection, start before end.
    std::pair<std::size_t, std::size_t> Selection() const;
    // Selects from nAnchor to nCaret (clamped to the text) and shows the caret.
    void SetSelection(std::size_t nAnchor, std::size_t nCaret);
    void SelectAll();
    // Puts the selected text on the clipboard as it is held, lines ending in CR LF.
    void Copy();

    // Save: asks for a file and exports the whole text to it; failures go
    // to AfxMessages().
    void OnFileSave();

    // Print: asks for the printer and prints the whole text.
    void OnFilePrint();
    void PrintTo(class QPrinter& printer) const;

    // The pane's commands on the command route: Save, Print, the Edit commands.
    bool OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) override;
    void OnUpdateEditCopy(CCmdUI* pCmdUI);
    void OnUpdateNeedsWritablePane(CCmdUI* pCmdUI);

signals:
    // The pane took the focus: its monitor becomes the current one.
    void focusEntered();

protected:
    struct CPaneStyle {
        QColor crText;
        QColor crBack;
        QString strName;        // accessible name
        QString strExportTitle; // save dialog title, also the accessible description
        QString strExportFile;  // name the save dialog offers
    };
    CPaneView(const CPaneStyle& style, QWidget* pParent);
    // This pane's store of a document: its receive or its send text.
    virtual CPaneStore& StoreOf(CDocument& document) const = 0;
    void OnDocumentChanged() override;

    bool event(QEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;

private:
    void OnStoreEdited(int nFirstLine, std::size_t nScrollTo, bool bScroll) override;
    void OnLinesDropped(std::size_t nChars, int nLines) override;
    void OnStoreCleared() override;
    // Shows another store from its end, with no selection.
    void ShowStore(CPaneStore* pStore);
    void Relayout();
    void MeasureFrom(int nFirstLine);
    void ScheduleFlush();
    void Flush();
    void UpdateScrollBars();
    void EnsureVisible(std::size_t nOffset);
    void MoveCaret(std::size_t nCaret, bool bExtend);
    std::size_t CaretAfterKey(int nKey, bool bControl) const;
    std::size_t OffsetAt(QPoint pos) const;
    int VisibleLines() const;
    void DrawLine(class QPainter& painter, int nLine, double y) const;
    quint32 Glyph(char16_t ch) const;

    CPaneStore m_ownStore;
    CPaneStore* m_pStore = &m_ownStore;
    CPaneLayout m_layout;
    const CPaneStyle m_style;
    QFont m_font;
    // Lines are drawn as glyph runs placed by m_layout: no shaping per paint.
    QRawFont m_rawFont;
    std::array<quint32, 256> m_glyphs{};
    int m_nLineHeight = 1;
    int m_nAscent = 0;
    double m_dMaxWidth = 0; // widest line since the last clear; only grows

    std::size_t m_nAnchor = 0;
    std::size_t m_nCaret = 0;
    double m_dGoalX = -1; // x kept by Up and Down, -1 when unset

    bool m_bFlushPending = false;
    bool m_bScrollPending = false;
    std::size_t m_nScrollTo = 0;
    int m_nDroppedLines = 0; // since the last flush, to keep the view on its text
};
