// The main window: the port toolbar with the port list, the counters bar
// under it, the monitor windows in an MDI area and the status bar. Commands
// from menus, buttons and keys go along the command route; their enabled
// and check states are asked of the same route when a menu opens and when
// the program is idle.
#pragma once

#include "CCmdTarget.h"
#include "CMdiBackground.h"
#include "IMonitorHost.h"

#include <QMainWindow>

#include <memory>
#include <vector>

class CChildFrame;
class CCommandActions;
class CCounterBar;
class CPortListWatcher;
class CPortToolBar;
class CStatusBar;
class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QPrinter;

class CMainFrame : public QMainWindow, public CCmdTarget, public IMonitorHost {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;

    // Offers a closed monitor's port again at the end of the port list, if
    // the port is still there, and selects the list's first entry.
    void AddPortToList(const QString& strPortName) override;
    ICounters& GetCounters() override;
    void ShowNotice(const QString& strText, int nTimeoutMs = 0) override;
    void ShowPortNotice(const QString& strPortName, const QString& strText) override;
    CCounterBar& GetCounterBar() const { return *m_wndCounterBar; }
    CPortToolBar& GetPortToolBar() const { return *m_wndToolBar; }
    CMdiBackground& GetMdiArea() const { return *m_wndMdiClient; }
    // The monitor window that is active, even while the main window is not.
    CChildFrame* MDIGetActive() const;
    CStatusBar& GetStatusBar() const { return *m_wndStatusBar; }
    // The printer that Print Setup configures and Print uses.
    QPrinter& GetPrinter();

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

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void CreateMenus();
    void CreateToolBar();
    void ShowMenusFor(bool bMonitorActive);
    void ScheduleIdleUpdate();
    void UpdateFrameTitle();

    CMdiBackground* m_wndMdiClient;
    CPortToolBar* m_wndToolBar;
    CCounterBar* m_wndCounterBar;
    CPortListWatcher* m_pPortList;
    CStatusBar* m_wndStatusBar;
    std::unique_ptr<CCommandActions> m_pActions;
    std::unique_ptr<QPrinter> m_pPrinter;
    bool m_bMonitorMenus = false;
    bool m_bIdleUpdatePending = false;
};

// The program's main window; nullptr while there is none.
CMainFrame* AfxGetMainFrame();
