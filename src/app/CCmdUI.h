// What an update handler decides about one command: enabled or not, and its
// check mark. Whoever shows the command (menu item, toolbar button) applies
// the result.
#pragma once

#include <optional>

using UINT = unsigned int;

class CCmdUI {
public:
    explicit CCmdUI(UINT nID) : m_nID(nID) {}

    void Enable(bool bOn = true) {
        m_bEnabled = bOn;
        m_bEnableChanged = true;
    }
    void SetCheck(bool bChecked) { m_bChecked = bChecked; }

    UINT m_nID;
    bool m_bEnabled = false;
    bool m_bEnableChanged = false;
    std::optional<bool> m_bChecked; // empty while no handler set a check state
};
