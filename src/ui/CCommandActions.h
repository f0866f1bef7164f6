// The commands of the resource tables as actions: one per command, with its
// text, prompt, tooltip and keys, the menus of both menu bars, and the
// enabled and check states that the command route decides.
#pragma once

#include "CCmdTarget.h"

#include <QObject>

#include <functional>
#include <map>
#include <span>
#include <vector>

class QAction;
class QMenu;
struct CMenuPopup;

class CCommandActions {
public:
    // pParent owns the actions and menus; run is called with a command's id
    // when its action triggers.
    CCommandActions(QWidget* pParent, std::function<void(UINT)> run);

    QAction* GetAction(UINT nID) const;
    // The menu bar's menus without a monitor, and with one.
    const std::vector<QMenu*>& MainFrameMenus() const { return m_mainFrameMenus; }
    const std::vector<QMenu*>& MonitorMenus() const { return m_monitorMenus; }

    // Asks route for every command's state and shows it.
    void UpdateStates(std::span<CCmdTarget* const> route);
    // The first entry stands greyed for the whole list while it is empty.
    void UpdateRecentFileItems(const QStringList& files);

private:
    void MakeAction(UINT nID, const char* pszMenuText);
    QMenu* CreateMenu(const CMenuPopup& popup);

    QWidget* m_pParent;
    std::function<void(UINT)> m_run;
    std::map<UINT, QAction*> m_actions;
    std::vector<QMenu*> m_mainFrameMenus;
    std::vector<QMenu*> m_monitorMenus;
};
