#include "CMemoryPane.h"

#include <algorithm>

CMemoryPane::CMemoryPane() {
    m_lineStarts.push_back(0);
}

std::ptrdiff_t CMemoryPane::LineIndex(int nLine) const {
    if (nLine < 0 || nLine >= LineCount())
        return -1;
    return static_cast<std::ptrdiff_t>(m_lineStarts[nLine] - m_nDead);
}

int CMemoryPane::LineFromChar(std::size_t nChar) const {
    const auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), nChar + m_nDead);
    return static_cast<int>(it - m_lineStarts.begin()) - 1;
}

std::u16string_view CMemoryPane::LineText(int nLine) const {
    if (nLine < 0 || nLine >= LineCount())
        return {};
    const std::size_t nStart = m_lineStarts[nLine];
    const std::size_t nEnd =
        nLine + 1 < LineCount() ? m_lineStarts[nLine + 1] - 2 : m_strText.size();
    return std::u16string_view(m_strText).substr(nStart, nEnd - nStart);
}

void CMemoryPane::AppendText(std::u16string_view text) {
    ReplaceRange(m_strText.size(), m_strText.size(), text);
}

void CMemoryPane::ReplaceLine(int nLine, std::u16string_view text, bool) {
    if (nLine < 0 || nLine >= LineCount()) {
        AppendText(text);
        return;
    }
    const std::size_t nStart = m_lineStarts[nLine];
    const std::size_t nEnd = nLine + 1 < LineCount() ? m_lineStarts[nLine + 1] : m_strText.size();
    ReplaceRange(nStart, nEnd, text);
}

// Everything from nStart on is re-indexed; callers only ever edit the last
// lines, so that tail is short.
void CMemoryPane::ReplaceRange(std::size_t nStart, std::size_t nEnd, std::u16string_view text) {
    m_strText.replace(nStart, nEnd - nStart, text);
    while (m_lineStarts.size() > 1 && m_lineStarts.back() > nStart)
        m_lineStarts.pop_back();
    // A CR LF pair may straddle nStart when the edit began between its halves.
    std::size_t nScan = nStart > m_lineStarts.back() ? nStart - 1 : m_lineStarts.back();
    for (std::size_t i = nScan; i + 1 < m_strText.size(); ++i) {
        if (m_strText[i] == u'\r' && m_strText[i + 1] == u'\n') {
            m_lineStarts.push_back(i + 2);
            ++i;
        }
    }
}

int CMemoryPane::RemoveLeadingLines(std::size_t nChars, int nMaxLines) {
    int nDropped = 0;
    std::size_t nRemoved = 0;
    while (nDropped < nMaxLines && m_lineStarts.size() > 1 && nRemoved < nChars) {
        m_lineStarts.pop_front();
        nRemoved += m_lineStarts.front() - m_nDead;
        m_nDead = m_lineStarts.front();
        ++nDropped;
    }
    if (m_nDead > m_strText.size() / 2) {
        m_strText.erase(0, m_nDead);
        for (auto& nStart : m_lineStarts)
            nStart -= m_nDead;
        m_nDead = 0;
    }
    return nDropped;
}

void CMemoryPane::Clear() {
    m_strText.clear();
    m_nDead = 0;
    m_lineStarts.assign(1, 0);
}
