// The main window: the port toolbar with the port list, the counters bar
// under it, the monitor windows in an MDI area and the status bar. Commands
// from menus, buttons and keys go along the command route; their enabled
// and check states are asked of the same route when a menu opens and when
// the program is idle.
#pragma once

#include "CCmdTarget.h"
#include "CMdiBackground.h"

#include <QMainWindow>

#include <map>
#include <vector>

class CChildFrame;
class CCounterBar;
class CPortToolBar;
class QAction;
class QLabel;
class QMdiArea;
class QMenu;

class CMainFrame : public QMainWindow, public CCmdTarget {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;

    // Appends the port at the end of the port list and selects its first entry.
    void AddPortToList(const QString& strPortName);
    CCounterBar& GetCounterBar() const { return *m_wndCounterBar; }
    CPortToolBar& GetPortToolBar() const { return *m_wndToolBar; }
    CMdiBackground& GetMdiArea() const { return *m_wndMdiClient; }
    // The monitor window that is active, even while the main window is not.
    CChildFrame* MDIGetActive() const;
    // A line in the status bar that stays until something else is shown
    // there, or for nTimeoutMs when that is not 0.
    void ShowNotice(const QString& strText, int nTimeoutMs = 0);

    // The objects a command is offered to, in order.
    std::vector<CCmdTarget*> CommandRoute() const;
    bool ExecuteCommand(UINT nID);
    // Asks the route for every command's state and shows it.
    void UpdateCommandStates();
    QAction* GetAction(UINT nID) const;

    bool OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) override;
    void OnSelendokPortCombo(int nIndex);
    void OnRemoveDriver();
    void OnUpdateRemoveDriver(CCmdUI* pCmdUI);
    void OnViewToolbar();
    void OnUpdateViewToolbar(CCmdUI* pCmdUI);
    void OnViewStatusBar();
    void OnUpdateViewStatusBar(CCmdUI* pCmdUI);
    void OnWindowNew();
    void OnWindowCascade();
    void OnWindowTileHorz();
    void OnWindowTileVert();
    void OnWindowArrange();
    void OnUpdateMDIWindowCmd(CCmdUI* pCmdUI);
    // The framework's destroy processing: the background stops switching.
    void OnDestroy();

    // The key-state panes of the status bar, Caps, Num and Scroll Lock.
    QLabel* GetIndicator(int nIndex) const { return m_wndIndicators[nIndex]; }

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void CreateActions();
    QMenu* CreateMenu(const struct CMenuPopup& popup);
    void CreateToolBar();
    void CreateStatusBar();
    void FillPortList();
    void ShowMenusFor(bool bMonitorActive);
    void ScheduleIdleUpdate();
    void UpdateRecentFileItems();
    void UpdateIndicators();
    void UpdateFrameTitle();
    void FillWindowList(QMenu* pMenu);
    // Sub-windows stacked (bStacked) or side by side, each as long as the area.
    void TileWindows(bool bStacked);

    CMdiBackground* m_wndMdiClient;
    CPortToolBar* m_wndToolBar;
    CCounterBar* m_wndCounterBar;
    QLabel* m_wndIdleText;
    QLabel* m_wndIndicators[3];
    std::map<UINT, QAction*> m_actions;
    std::vector<QMenu*> m_mainFrameMenus;
    std::vector<QMenu*> m_monitorMenus;
    bool m_bMonitorMenus = false;
    bool m_bIdleUpdatePending = false;
};

// The program's main window; nullptr while there is none.
CMainFrame* AfxGetMainFrame();
