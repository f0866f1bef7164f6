// The text of one pane of a monitor, which every window on the monitor
// shows: the formatter writes here, and each window's pane draws from here
// with its own scroll position and selection. A view learns of each edit
// after it, with what it needs to keep its place.
#pragma once

#include "CMemoryPane.h"
#include "IPaneObserver.h"

#include <vector>

class CPaneStore : public CMemoryPane {
public:
    CPaneStore() = default;
    CPaneStore(const CPaneStore&) = delete;
    CPaneStore& operator=(const CPaneStore&) = delete;

    void AddObserver(IPaneObserver* pObserver) { m_observers.push_back(pObserver); }
    void RemoveObserver(IPaneObserver* pObserver) { std::erase(m_observers, pObserver); }
    bool HasObservers() const { return !m_observers.empty(); }

    void AppendText(std::u16string_view text) override;
    void ReplaceLine(int nLine, std::u16string_view text, bool bScrollCaret) override;
    int RemoveLeadingLines(std::size_t nChars, int nMaxLines) override;
    void Clear() override;

private:
    std::vector<IPaneObserver*> m_observers;
};
