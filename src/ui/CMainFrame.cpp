#include "CMainFrame.h"

#include "CChildFrame.h"
#include "CCommandRouter.h"
#include "CCounterBar.h"
#include "CMessageBox.h"
#include "CMultiDocTemplate.h"
#include "CPortToolBar.h"
#include "CSerialPortMap.h"
#include "CView.h"
#include "CWireletApp.h"
#include "CWireletDoc.h"
#include "DriverService.h"
#include "MonitorMessages.h"
#include "Resource.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
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
    : m_wndMdiClient(new QMdiArea), m_wndToolBar(new CPortToolBar(this)),
      m_wndCounterBar(new CCounterBar(this)),
      m_wndIdleText(new QLabel(QString::fromUtf8(LoadResourceString(AFX_IDS_IDLEMESSAGE)))) {
    s_pMainFrame = this;
    setWindowTitle(QString::fromUtf8(LoadResourceString(IDR_MAINFRAME)));
    setCentralWidget(m_wndMdiClient);
    m_wndMdiClient->setAccessibleName(QString::fromUtf8("监视窗口"));
    CreateActions();
    CreateToolBar();
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, m_wndCounterBar);
    statusBar()->addWidget(m_wndIdleText, 1);
    FillPortList();
    ShowMenusFor(false);

    connect(m_wndToolBar->m_wndPortCombo, &QComboBox::activated, this,
            &CMainFrame::OnSelendokPortCombo);
    connect(m_wndMdiClient, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* pWindow) {
        if (auto* pFrame = qobject_cast<CChildFrame*>(pWindow))
            pFrame->OnSetFocus();
        ScheduleIdleUpdate();
    });
    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::ScheduleIdleUpdate);
    UpdateCommandStates();
}

CMainFrame::~CMainFrame() {
    if (s_pMainFrame == this)
        s_pMainFrame = nullptr;
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
    for (const UINT nID : TOOLBAR_MAINFRAME)
        makeAction(nID, nullptr);
    for (const CAccelerator& accelerator : ACCELERATORS)
        makeAction(accelerator.nID, nullptr);
    for (const auto& [nID, pAction] : m_actions) {
        QList<QKeySequence> keys;
        for (const CAccelerator& accelerator : ACCELERATORS)
            if (accelerator.nID == nID)
                keys.append(QKeySequence(QString::fromUtf8(accelerator.pszKeys)));
        pAction->setShortcuts(keys);
    }
    for (const CMenuPopup& popup : MENU_MAINFRAME)
        m_mainFrameMenus.push_back(CreateMenu(popup));
    for (const CMenuPopup& popup : MENU_WIRELETTYPE)
        m_monitorMenus.push_back(CreateMenu(popup));
}

QMenu* CMainFrame::CreateMenu(const CMenuPopup& popup) {
    auto* pMenu = new QMenu(QString::fromUtf8(popup.pszText), this);
    for (const CMenuItem& item : popup.items) {
        if (item.nID == ID_SEPARATOR)
            pMenu->addSeparator();
        else
            pMenu->addAction(m_actions.at(item.nID));
    }
    connect(pMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
    return pMenu;
}

void CMainFrame::CreateToolBar() {
    for (const UINT nID : TOOLBAR_MAINFRAME) {
        if (nID == ID_SEPARATOR)
            m_wndToolBar->addSeparator();
        else if (nID == IDC_PORT_COMBO)
            m_wndToolBar->addWidget(m_wndToolBar->m_wndPortCombo);
        else
            m_wndToolBar->addAction(m_actions.at(nID));
    }
}

// A machine without a port map gets an empty list rather than no program.
void CMainFrame::FillPortList() {
    for (const std::string& strPort : CSerialPortMap::Read().value_or(std::vector<std::string>{}))
        if (!strPort.empty())
            m_wndToolBar->m_wndPortCombo->addItem(QString::fromStdString(strPort));
    m_wndToolBar->m_wndPortCombo->setCurrentIndex(0);
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
    m_wndToolBar->m_wndPortCombo->addItem(strPortName);
    m_wndToolBar->m_wndPortCombo->setCurrentIndex(0);
}

CChildFrame* CMainFrame::MDIGetActive() const {
    return qobject_cast<CChildFrame*>(m_wndMdiClient->currentSubWindow());
}

void CMainFrame::ShowNotice(const QString& strText) {
    statusBar()->showMessage(strText);
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
    const std::vector<CCmdTarget*> route = CommandRoute();
    for (const auto& [nID, pAction] : m_actions) {
        const CCmdUI cmdUI = CCommandRouter::Update(route, nID);
        pAction->setEnabled(cmdUI.m_bEnabled);
        pAction->setCheckable(cmdUI.m_bChecked.has_value());
        if (cmdUI.m_bChecked)
            pAction->setChecked(*cmdUI.m_bChecked);
    }
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
    if (pDocument->AttachPort(strPortName) != 0) {
        AfxMessages().ShowWarning(
            QString::fromUtf8(MSG_CANNOT_MONITOR).arg(strPortName).toStdString());
        return;
    }
    pCombo->removeItem(nIndex);
    pCombo->setCurrentIndex(0);
    pDocument->StartMonitor();
}

void CMainFrame::OnRemoveDriver() {
    RemoveDriver(AfxMessages());
}

void CMainFrame::OnUpdateRemoveDriver(CCmdUI* pCmdUI) {
    pCmdUI->Enable(true);
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
