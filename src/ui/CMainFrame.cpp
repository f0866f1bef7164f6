#include "CMainFrame.h"

#include "AfxMessages.h"
#include "CChildFrame.h"
#include "CCommandActions.h"
#include "CCommandRouter.h"
#include "CCounterBar.h"
#include "CMdiBackground.h"
#include "CMultiDocTemplate.h"
#include "CPortListWatcher.h"
#include "CPortToolBar.h"
#include "CStatusBar.h"
#include "CVantryDevice.h"
#include "CView.h"
#include "CWinApp.h"
#include "CWireletDoc.h"
#include "DriverService.h"
#include "MdiWindowLayout.h"
#include "MonitorMessages.h"
#include "Resource.h"
#include "ShellResources.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QStatusBar>
#include <QTimer>

namespace {
CMainFrame* s_pMainFrame = nullptr;
} // namespace

CMainFrame* AfxGetMainFrame() {
    return s_pMainFrame;
}

CMainFrame::CMainFrame()
    : m_wndMdiClient(new CMdiBackground), m_wndToolBar(new CPortToolBar(this)),
      m_wndCounterBar(new CCounterBar(this)), m_wndStatusBar(new CStatusBar) {
    s_pMainFrame = this;
    AfxSetMonitorHost(this);
    setWindowTitle(QString::fromUtf8(LoadResourceString(IDR_MAINFRAME)));
    setWindowIcon(ShellIcon(IDR_MAINFRAME));
    setCentralWidget(m_wndMdiClient);
    m_wndMdiClient->setAccessibleName(QString::fromUtf8("监视窗口"));
    CreateMenus();
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
    if (AfxGetMonitorHost() == this)
        AfxSetMonitorHost(nullptr);
}

// What the children do while QWidget destroys them no longer reaches the
// frame, whose own part is gone by then.
void CMainFrame::OnDestroy() {
    qApp->removeEventFilter(this);
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(m_wndMdiClient, nullptr, this, nullptr);
    m_wndMdiClient->OnDestroy();
}

void CMainFrame::CreateMenus() {
    m_pActions = std::make_unique<CCommandActions>(this, [this](UINT nID) { ExecuteCommand(nID); });
    for (const auto& menus : {m_pActions->MainFrameMenus(), m_pActions->MonitorMenus()})
        for (QMenu* pMenu : menus) {
            connect(pMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
            if (pMenu->property("bWindowList").toBool())
                connect(pMenu, &QMenu::aboutToShow, this, [this, pMenu] {
                    MdiWindowLayout::FillWindowList(*pMenu, *m_wndMdiClient);
                });
        }
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
            m_pActions->GetAction(nID)->setIcon(ToolBarImage(nImage));
            m_wndToolBar->addAction(m_pActions->GetAction(nID));
        }
        ++nImage;
    }
}

void CMainFrame::ShowMenusFor(bool bMonitorActive) {
    if (bMonitorActive == m_bMonitorMenus && !menuBar()->actions().isEmpty())
        return;
    m_bMonitorMenus = bMonitorActive;
    menuBar()->clear();
    for (QMenu* pMenu : bMonitorActive ? m_pActions->MonitorMenus() : m_pActions->MainFrameMenus())
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

void CMainFrame::ShowPortNotice(const QString& strPortName, const QString& strText) {
    m_wndStatusBar->ShowPortNotice(strPortName, strText);
}

ICounters& CMainFrame::GetCounters() {
    return *m_wndCounterBar;
}

QPrinter& CMainFrame::GetPrinter() {
    if (!m_pPrinter)
        m_pPrinter = std::make_unique<QPrinter>();
    return *m_pPrinter;
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
    if (CWinApp* pApp = AfxGetApp())
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
    m_pActions->UpdateStates(CommandRoute());
    m_pActions->UpdateRecentFileItems(
        AfxGetApp() != nullptr ? AfxGetApp()->GetRecentFileList().Files() : QStringList());
}

// The title names the active monitor after the program's own title.
void CMainFrame::UpdateFrameTitle() {
    QString strTitle = QString::fromUtf8(LoadResourceString(IDR_MAINFRAME));
    if (CChildFrame* pFrame = MDIGetActive(); pFrame != nullptr && pFrame->GetActiveDocument())
        strTitle += QStringLiteral(" - ") + pFrame->GetActiveDocument()->GetTitle();
    setWindowTitle(strTitle);
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
    return m_pActions->GetAction(nID);
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
    auto* pDocument = dynamic_cast<CWireletDoc*>(g_pDocTemplate->OpenDocumentFile(QString()));
    if (pDocument == nullptr)
        return;
    if (const int nError = pDocument->AttachPort(strPortName)) {
        if (CVantryDevice::IsDriverGone(nError))
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
    g_pDocTemplate->InitialUpdateFrame(g_pDocTemplate->CreateNewFrame(pDocument), pDocument, true);
}

void CMainFrame::OnWindowCascade() {
    m_wndMdiClient->cascadeSubWindows();
}

void CMainFrame::OnWindowTileHorz() {
    MdiWindowLayout::TileWindows(*m_wndMdiClient, true);
}

void CMainFrame::OnWindowTileVert() {
    MdiWindowLayout::TileWindows(*m_wndMdiClient, false);
}

void CMainFrame::OnWindowArrange() {
    MdiWindowLayout::ArrangeIcons(*m_wndMdiClient);
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
