#include "CMainFrame.h"

#include "CChildFrame.h"
#include "CCommandRouter.h"
#include "CCounterBar.h"
#include "CMdiBackground.h"
#include "CMessageBox.h"
#include "CMultiDocTemplate.h"
#include "CPortListWatcher.h"
#include "CPortToolBar.h"
#include "CStatusBar.h"
#include "CView.h"
#include "CWireletApp.h"
#include "CWireletDoc.h"
#include "DriverService.h"
#include "MonitorMessages.h"
#include "Resource.h"
#include "ShellResources.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

namespace {

CMainFrame* s_pMainFrame = nullptr;

// A command's string is "prompt\ntooltip".
QStringList CommandStrings(UINT nID) {
    const char* pszText = LoadResourceString(nID);
    QStringList strings = QString::fromUtf8(pszText != nullptr ? pszText : "").split(u'\n');
    while (strings.size() < 2)
        strings.append(QString());
    return strings;
}

} // namespace

CMainFrame* AfxGetMainFrame() {
    return s_pMainFrame;
}

CMainFrame::CMainFrame()
    : m_wndMdiClient(new CMdiBackground), m_wndToolBar(new CPortToolBar(this)),
      m_wndCounterBar(new CCounterBar(this)), m_wndStatusBar(new CStatusBar) {
    s_pMainFrame = this;
    setWindowTitle(QString::fromUtf8(LoadResourceString(IDR_MAINFRAME)));
    setWindowIcon(ShellIcon(IDR_MAINFRAME));
    setCentralWidget(m_wndMdiClient);
    m_wndMdiClient->setAccessibleName(QString::fromUtf8("监视窗口"));
    CreateActions();
    CreateToolBar();
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, m_wndCounterBar);
    setStatusBar(m_wndStatusBar);
    m_pPortList = new CPortListWatcher(m_wndToolBar->m_wndPortCombo, this);
    connect(m_pPortList, &CPortListWatcher::PortVanished, this, [this](const QString& strPort) {
        m_wndStatusBar->ShowPortNotice(strPort, QString::fromUtf8(MSG_PORT_VANISHED));
    });
    ShowMenusFor(false);

    connect(m_wndToolBar->m_wndPortCombo, &QComboBox::activated, this,
            &CMainFrame::OnSelendokPortCombo);
    connect(m_wndMdiClient, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* pWindow) {
        if (auto* pFrame = qobject_cast<CChildFrame*>(pWindow))
            pFrame->OnSetFocus();
        ScheduleIdleUpdate();
    });
    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::ScheduleIdleUpdate);
    qApp->installEventFilter(this); // lock keys change the indicators
    UpdateCommandStates();
}

CMainFrame::~CMainFrame() {
    OnDestroy();
    if (s_pMainFrame == this)
        s_pMainFrame = nullptr;
}

// What the children do while QWidget destroys them no longer reaches the
// frame, whose own part is gone by then.
void CMainFrame::OnDestroy() {
    qApp->removeEventFilter(this);
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(m_wndMdiClient, nullptr, this, nullptr);
    m_wndMdiClient->OnDestroy();
}

void CMainFrame::CreateActions() {
    auto makeAction = [this](UINT nID, const char* pszMenuText) {
        if (nID == ID_SEPARATOR || nID == IDC_PORT_COMBO || m_actions.contains(nID))
            return;
        const QStringList strings = CommandStrings(nID);
        QString strText = pszMenuText != nullptr ? QString::fromUtf8(pszMenuText) : strings[1];
        strText = strText.section(u'\t', 0, 0);
        auto* pAction = new QAction(strText, this);
        pAction->setStatusTip(strings[0]);
        pAction->setToolTip(strings[1].isEmpty() ? strText : strings[1]);
        pAction->setIconText(pAction->toolTip());
        connect(pAction, &QAction::triggered, this, [this, nID] { ExecuteCommand(nID); });
        QWidget::addAction(pAction); // keys work wherever the focus is in the window
        m_actions.emplace(nID, pAction);
    };
    for (const auto menus : {MENU_WIRELETTYPE, MENU_MAINFRAME})
        for (const CMenuPopup& popup : menus)
            for (const CMenuItem& item : popup.items)
                makeAction(item.nID, item.pszText);
    for (int i = 1; i < RECENT_FILE_COUNT; ++i)
        makeAction(ID_FILE_MRU_FILE1 + i, nullptr);
    for (const UINT nID : TOOLBAR_MAINFRAME)
        makeAction(nID, nullptr);
    for (const CAccelerator& accelerator : ACCELERATORS)
        makeAction(accelerator.nID, nullptr);
    for (const auto& [nID, pAction] : m_actions) {
        QList<QKeySequence> keys;
        for (const CAccelerator& accelerator : ACCELERATORS)
            if (accelerator.nID == nID)
                keys.append(QKeySequence(QString::fromUtf8(accelerator.pszKeys)));
        if (nID == SC_CLOSE) // the desktop's own close key, too
            for (const QKeySequence& key : QKeySequence::keyBindings(QKeySequence::Close))
                if (!keys.contains(key))
                    keys.append(key);
        pAction->setShortcuts(keys);
    }
    for (const CMenuPopup& popup : MENU_MAINFRAME)
        m_mainFrameMenus.push_back(CreateMenu(popup));
    for (const CMenuPopup& popup : MENU_WIRELETTYPE)
        m_monitorMenus.push_back(CreateMenu(popup));
}

QMenu* CMainFrame::CreateMenu(const CMenuPopup& popup) {
    auto* pMenu = new QMenu(QString::fromUtf8(popup.pszText), this);
    pMenu->setAccessibleName(pMenu->title().remove(u'&'));
    for (const CMenuItem& item : popup.items) {
        if (item.nID == ID_SEPARATOR)
            pMenu->addSeparator();
        else if (item.nID == ID_FILE_MRU_FILE1)
            for (int i = 0; i < RECENT_FILE_COUNT; ++i)
                pMenu->addAction(m_actions.at(ID_FILE_MRU_FILE1 + i));
        else
            pMenu->addAction(m_actions.at(item.nID));
    }
    connect(pMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
    if (popup.bWindowList)
        connect(pMenu, &QMenu::aboutToShow, this, [this, pMenu] { FillWindowList(pMenu); });
    return pMenu;
}

// Each button but the separators has its image in the strip, the port
// list's place included.
void CMainFrame::CreateToolBar() {
    m_wndToolBar->setIconSize(ToolBarImage(0).availableSizes().value(0));
    int nImage = 0;
    for (const UINT nID : TOOLBAR_MAINFRAME) {
        if (nID == ID_SEPARATOR) {
            m_wndToolBar->addSeparator();
            continue;
        }
        if (nID == IDC_PORT_COMBO) {
            m_wndToolBar->addWidget(m_wndToolBar->m_wndPortCombo);
        } else {
            m_actions.at(nID)->setIcon(ToolBarImage(nImage));
            m_wndToolBar->addAction(m_actions.at(nID));
        }
        ++nImage;
    }
}

void CMainFrame::ShowMenusFor(bool bMonitorActive) {
    if (bMonitorActive == m_bMonitorMenus && !menuBar()->actions().isEmpty())
        return;
    m_bMonitorMenus = bMonitorActive;
    menuBar()->clear();
    for (QMenu* pMenu : bMonitorActive ? m_monitorMenus : m_mainFrameMenus)
        menuBar()->addMenu(pMenu);
}

void CMainFrame::AddPortToList(const QString& strPortName) {
    m_wndStatusBar->ForgetPort(strPortName);
    m_pPortList->GiveBackPort(strPortName);
}

CChildFrame* CMainFrame::MDIGetActive() const {
    return qobject_cast<CChildFrame*>(m_wndMdiClient->currentSubWindow());
}

void CMainFrame::ShowNotice(const QString& strText, int nTimeoutMs) {
    statusBar()->showMessage(strText, nTimeoutMs);
}

std::vector<CCmdTarget*> CMainFrame::CommandRoute() const {
    std::vector<CCmdTarget*> route;
    if (CChildFrame* pFrame = MDIGetActive()) {
        if (CView* pView = pFrame->GetActiveView())
            route.push_back(pView);
        if (CDocument* pDocument = pFrame->GetActiveDocument())
            route.push_back(pDocument);
        route.push_back(pFrame);
    }
    if (CWireletApp* pApp = AfxGetApp())
        route.push_back(pApp);
    route.push_back(const_cast<CMainFrame*>(this));
    return route;
}

bool CMainFrame::ExecuteCommand(UINT nID) {
    const bool bHandled = CCommandRouter::Execute(CommandRoute(), nID);
    ScheduleIdleUpdate();
    return bHandled;
}

void CMainFrame::UpdateCommandStates() {
    m_bIdleUpdatePending = false;
    ShowMenusFor(MDIGetActive() != nullptr);
    UpdateFrameTitle();
    m_wndStatusBar->UpdateIndicators();
    const std::vector<CCmdTarget*> route = CommandRoute();
    for (const auto& [nID, pAction] : m_actions) {
        const CCmdUI cmdUI = CCommandRouter::Update(route, nID);
        pAction->setEnabled(cmdUI.m_bEnabled);
        pAction->setCheckable(cmdUI.m_bChecked.has_value());
        if (cmdUI.m_bChecked)
            pAction->setChecked(*cmdUI.m_bChecked);
    }
    UpdateRecentFileItems();
}

// The first entry stands greyed for the whole list while it is empty.
void CMainFrame::UpdateRecentFileItems() {
    const QStringList files =
        AfxGetApp() != nullptr ? AfxGetApp()->GetRecentFileList().Files() : QStringList();
    for (int i = 0; i < RECENT_FILE_COUNT; ++i) {
        QAction* pAction = m_actions.at(ID_FILE_MRU_FILE1 + i);
        if (i < files.size())
            pAction->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(files[i]));
        else if (i == 0)
            pAction->setText(QString::fromUtf8("最近文件"));
        pAction->setVisible(i < files.size() || i == 0);
    }
}

// The title names the active monitor after the program's own title.
void CMainFrame::UpdateFrameTitle() {
    QString strTitle = QString::fromUtf8(LoadResourceString(IDR_MAINFRAME));
    if (CChildFrame* pFrame = MDIGetActive(); pFrame != nullptr && pFrame->GetActiveDocument())
        strTitle += QStringLiteral(" - ") + pFrame->GetActiveDocument()->GetTitle();
    setWindowTitle(strTitle);
}

void CMainFrame::FillWindowList(QMenu* pMenu) {
    for (QAction* pAction : pMenu->actions())
        if (pAction->property("windowList").toBool())
            delete pAction;
    const QList<QMdiSubWindow*> windows = m_wndMdiClient->subWindowList();
    if (windows.isEmpty())
        return;
    pMenu->addSeparator()->setProperty("windowList", true);
    for (int i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* pWindow = windows[i];
        QAction* pAction =
            pMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(pWindow->windowTitle()));
        pAction->setProperty("windowList", true);
        pAction->setCheckable(true);
        pAction->setChecked(pWindow == m_wndMdiClient->currentSubWindow());
        connect(pAction, &QAction::triggered, this, [this, pWindow] {
            if (m_wndMdiClient->subWindowList().contains(pWindow))
                m_wndMdiClient->setActiveSubWindow(pWindow);
        });
    }
}

bool CMainFrame::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pEvent->type() == QEvent::KeyRelease)
        ScheduleIdleUpdate();
    return QMainWindow::eventFilter(pWatched, pEvent);
}

void CMainFrame::ScheduleIdleUpdate() {
    if (m_bIdleUpdatePending)
        return;
    m_bIdleUpdatePending = true;
    QTimer::singleShot(0, this, &CMainFrame::UpdateCommandStates);
}

QAction* CMainFrame::GetAction(UINT nID) const {
    const auto it = m_actions.find(nID);
    return it != m_actions.end() ? it->second : nullptr;
}

bool CMainFrame::OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) {
    static constexpr CCommandEntry<CMainFrame> MAP[] = {
        {ID_REMOVE_DRIVER, &CMainFrame::OnRemoveDriver, &CMainFrame::OnUpdateRemoveDriver},
        {ID_VIEW_TOOLBAR, &CMainFrame::OnViewToolbar, &CMainFrame::OnUpdateViewToolbar},
        {ID_VIEW_STATUS_BAR, &CMainFrame::OnViewStatusBar, &CMainFrame::OnUpdateViewStatusBar},
        {ID_WINDOW_NEW, &CMainFrame::OnWindowNew, &CMainFrame::OnUpdateMDIWindowCmd},
        {ID_WINDOW_CASCADE, &CMainFrame::OnWindowCascade, &CMainFrame::OnUpdateMDIWindowCmd},
        {ID_WINDOW_TILE_HORZ, &CMainFrame::OnWindowTileHorz, &CMainFrame::OnUpdateMDIWindowCmd},
        {ID_WINDOW_TILE_VERT, &CMainFrame::OnWindowTileVert, &CMainFrame::OnUpdateMDIWindowCmd},
        {ID_WINDOW_ARRANGE, &CMainFrame::OnWindowArrange, &CMainFrame::OnUpdateMDIWindowCmd},
    };
    return DispatchCmdMsg<CMainFrame>(this, MAP, nID, eMsg, pCmdUI);
}

// The window is on screen before the driver is asked anything; a port the
// driver cannot attach stays in the list, and its empty window stays open.
void CMainFrame::OnSelendokPortCombo(int nIndex) {
    QComboBox* pCombo = m_wndToolBar->m_wndPortCombo;
    const QString strPortName = pCombo->itemText(nIndex);
    if (strPortName.isEmpty() || g_pDocTemplate == nullptr)
        return;
    auto* pDocument = dynamic_cast<CWireletDoc*>(g_pDocTemplate->CreateNewDocument());
    if (pDocument == nullptr)
        return;
    CChildFrame* pFrame = g_pDocTemplate->CreateNewFrame(pDocument);
    g_pDocTemplate->InitialUpdateFrame(pFrame, pDocument, true);
    if (const int nError = pDocument->AttachPort(strPortName)) {
        if (CWireletDoc::IsDriverGone(nError))
            ShowNotice(QString::fromUtf8(MSG_DRIVER_NOT_RUNNING).arg(strPortName));
        AfxMessages().ShowWarning(
            QString::fromUtf8(MSG_CANNOT_MONITOR).arg(strPortName).toStdString());
        return;
    }
    m_pPortList->TakePort(strPortName);
    pDocument->StartMonitor();
}

void CMainFrame::OnRemoveDriver() {
    RemoveDriver(AfxMessages());
}

void CMainFrame::OnUpdateRemoveDriver(CCmdUI* pCmdUI) {
    pCmdUI->Enable(true);
}

// Only the port toolbar: the counters bar cannot be hidden.
void CMainFrame::OnViewToolbar() {
    m_wndToolBar->setVisible(m_wndToolBar->isHidden());
}

void CMainFrame::OnUpdateViewToolbar(CCmdUI* pCmdUI) {
    pCmdUI->SetCheck(!m_wndToolBar->isHidden());
}

void CMainFrame::OnViewStatusBar() {
    statusBar()->setVisible(statusBar()->isHidden());
}

void CMainFrame::OnUpdateViewStatusBar(CCmdUI* pCmdUI) {
    pCmdUI->SetCheck(!statusBar()->isHidden());
}

void CMainFrame::OnUpdateMDIWindowCmd(CCmdUI* pCmdUI) {
    pCmdUI->Enable(MDIGetActive() != nullptr);
}

// A further window on the active monitor: panes of its own, showing the
// same text.
void CMainFrame::OnWindowNew() {
    CChildFrame* pActive = MDIGetActive();
    if (pActive == nullptr || pActive->GetActiveDocument() == nullptr || g_pDocTemplate == nullptr)
        return;
    CDocument* pDocument = pActive->GetActiveDocument();
    CChildFrame* pFrame = g_pDocTemplate->CreateNewFrame(pDocument);
    g_pDocTemplate->InitialUpdateFrame(pFrame, pDocument, true);
}

void CMainFrame::OnWindowCascade() {
    m_wndMdiClient->cascadeSubWindows();
}

void CMainFrame::OnWindowTileHorz() {
    TileWindows(true);
}

void CMainFrame::OnWindowTileVert() {
    TileWindows(false);
}

void CMainFrame::TileWindows(bool bStacked) {
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* pWindow : m_wndMdiClient->subWindowList())
        if (pWindow->isVisible() && !pWindow->isMinimized())
            windows.append(pWindow);
    if (windows.isEmpty())
        return;
    const QRect area = m_wndMdiClient->viewport()->rect();
    const int nCount = static_cast<int>(windows.size());
    for (int i = 0; i < nCount; ++i) {
        windows[i]->showNormal();
        if (bStacked) {
            const int y0 = area.height() * i / nCount, y1 = area.height() * (i + 1) / nCount;
            windows[i]->setGeometry(0, y0, area.width(), y1 - y0);
        } else {
            const int x0 = area.width() * i / nCount, x1 = area.width() * (i + 1) / nCount;
            windows[i]->setGeometry(x0, 0, x1 - x0, area.height());
        }
    }
}

// Minimised windows in a row along the bottom of the area.
void CMainFrame::OnWindowArrange() {
    const QRect area = m_wndMdiClient->viewport()->rect();
    int x = 0;
    for (QMdiSubWindow* pWindow : m_wndMdiClient->subWindowList()) {
        if (!pWindow->isMinimized())
            continue;
        pWindow->move(x, area.height() - pWindow->height());
        x += pWindow->width();
    }
}

void CMainFrame::closeEvent(QCloseEvent* pEvent) {
    if (g_nOpenMonitors != 0) {
        AfxMessages().ShowWarning(MSG_CLOSE_APPLICATIONS);
        g_bClosing = true;
    }
    if (g_pDocTemplate != nullptr)
        g_pDocTemplate->CloseAllDocuments();
    pEvent->accept();
}
