#include "CPaneStore.h"

void CPaneStore::AppendText(std::u16string_view text) {
    const int nFirst = LineCount() - 1;
    CMemoryPane::AppendText(text);
    for (IPaneObserver* pObserver : m_observers)
        pObserver->OnStoreEdited(nFirst, TextLength(), true);
}

void CPaneStore::ReplaceLine(int nLine, std::u16string_view text, bool bScrollCaret) {
    const bool bInside = nLine >= 0 && nLine < LineCount();
    const int nFirst = bInside ? nLine : LineCount() - 1;
    const std::size_t nStart = bInside ? std::size_t(LineIndex(nLine)) : TextLength();
    CMemoryPane::ReplaceLine(nLine, text, bScrollCaret);
    for (IPaneObserver* pObserver : m_observers)
        pObserver->OnStoreEdited(nFirst, nStart + text.size(), bScrollCaret);
}

int CPaneStore::RemoveLeadingLines(std::size_t nChars, int nMaxLines) {
    const std::size_t nBefore = TextLength();
    const int nDropped = CMemoryPane::RemoveLeadingLines(nChars, nMaxLines);
    for (IPaneObserver* pObserver : m_observers)
        pObserver->OnLinesDropped(nBefore - TextLength(), nDropped);
    return nDropped;
}

void CPaneStore::Clear() {
    CMemoryPane::Clear();
    for (IPaneObserver* pObserver : m_observers)
        pObserver->OnStoreCleared();
}
