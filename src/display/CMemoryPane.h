// A pane held in memory, with the edit control's line semantics. Line starts
// are indexed, so finding and replacing the last lines costs the same however
// full the pane is, and dropping leading lines only moves a start offset
// until the dead prefix is worth compacting.
#pragma once

#include "IPane.h"

#include <deque>

class CMemoryPane : public IPane {
public:
    CMemoryPane();

    std::size_t TextLength() const override { return m_strText.size() - m_nDead; }
    int LineCount() const override { return static_cast<int>(m_lineStarts.size()); }
    std::ptrdiff_t LineIndex(int nLine) const override;
    std::u16string Text() const override { return m_strText.substr(m_nDead); }

    // The live text without copying; valid until the next edit.
    std::u16string_view View() const { return std::u16string_view(m_strText).substr(m_nDead); }
    // The line holding character nChar (EM_LINEFROMCHAR); the last line past the end.
    int LineFromChar(std::size_t nChar) const;
    // Line nLine without its line break.
    std::u16string_view LineText(int nLine) const;

    void AppendText(std::u16string_view text) override;
    void ReplaceLine(int nLine, std::u16string_view text, bool bScrollCaret) override;
    int RemoveLeadingLines(std::size_t nChars, int nMaxLines) override;
    void Clear() override;

private:
    void ReplaceRange(std::size_t nStart, std::size_t nEnd, std::u16string_view text);

    std::u16string m_strText; // m_nDead characters of dropped lines, then the text
    std::size_t m_nDead = 0;
    std::deque<std::size_t> m_lineStarts; // absolute offsets into m_strText
};
