#include "CChildFrame.h"

#include "CDocument.h"
#include "CMySplitter.h"
#include "CTimelinePane.h"
#include "CTrafficFormatter.h"
#include "CViewRead.h"
#include "CViewWrite.h"
#include "CWireletDoc.h"
#include "Resource.h"
#include "ShellResources.h"

#include <QAction>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMenu>
#include <QStackedWidget>

CChildFrame::CChildFrame(CDocument* pDocument, QWidget* pParent)
    : QMdiSubWindow(pParent), m_pDocument(pDocument), m_pStack(new QStackedWidget),
      m_wndSplitter(new CMySplitter), m_pViewRead(new CViewRead), m_pViewWrite(new CViewWrite),
      m_pActivePane(m_pViewRead) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowIcon(ShellIcon(IDR_WIRELETTYPE));
    // The close keys belong to the main window, which gives them to the
    // active monitor window: held by every window they would be ambiguous,
    // and do nothing, as soon as two are open.
    for (QAction* pAction : systemMenu()->actions())
        pAction->setShortcuts({});
    m_wndSplitter->addWidget(m_pViewRead);
    m_wndSplitter->addWidget(m_pViewWrite);
    m_pStack->addWidget(m_wndSplitter);
    setWidget(m_pStack);
    for (CPaneView* pPane :
         {static_cast<CPaneView*>(m_pViewRead), static_cast<CPaneView*>(m_pViewWrite)}) {
        pPane->SetParentFrame(this);
        pPane->SetDocument(pDocument);
        connect(pPane, &CPaneView::focusEntered, this, [this, pPane] { OnPaneFocused(pPane); });
    }
    resize(INITIAL_WIDTH, INITIAL_HEIGHT);
    m_wndSplitter->setSizes({RECV_ROW_HEIGHT, INITIAL_HEIGHT});
    ApplyPaneLayout();
}

CChildFrame::~CChildFrame() {
    m_pViewRead->SetDocument(nullptr);
    m_pViewWrite->SetDocument(nullptr);
}

CView* CChildFrame::GetActiveView() const {
    return IsTimelineShown() ? nullptr : m_pActivePane;
}

bool CChildFrame::IsTimelineShown() const {
    return m_pTimeline != nullptr && m_pStack->currentWidget() == m_pTimeline;
}

void CChildFrame::OnUpdateFrameTitle() {
    setWindowTitle(m_pDocument != nullptr ? m_pDocument->GetTitle() : QString());
}

void CChildFrame::ActivateFrame() {
    show();
    if (QMdiArea* pArea = mdiArea())
        pArea->setActiveSubWindow(this);
    if (IsTimelineShown())
        m_pTimeline->setFocus(Qt::OtherFocusReason);
    else
        m_pActivePane->setFocus(Qt::OtherFocusReason);
}

void CChildFrame::DestroyFrame() {
    m_bDestroying = true;
    m_pViewRead->SetDocument(nullptr);
    m_pViewWrite->SetDocument(nullptr);
    if (m_pTimeline != nullptr)
        m_pTimeline->SetModel(nullptr);
    m_pDocument = nullptr;
    hide();
    if (QMdiArea* pArea = mdiArea())
        pArea->removeSubWindow(this);
    deleteLater();
}

void CChildFrame::closeEvent(QCloseEvent* pEvent) {
    // The document decides what goes: this window alone, or the monitor.
    pEvent->ignore();
    if (m_bDestroying)
        return;
    if (m_pDocument != nullptr)
        m_pDocument->OnCloseFrame(this);
    else
        DestroyFrame();
}

// As the close button does: the document decides, and closing its last
// window is File → Close, warning included.
void CChildFrame::OnSysClose() {
    close();
}

void CChildFrame::OnPaneFocused(CPaneView* pPane) {
    m_pActivePane = pPane;
    OnSetFocus();
}

void CChildFrame::OnSetFocus() {
    auto* pMonitor = dynamic_cast<CTrafficFormatter*>(m_pDocument);
    if (pMonitor == nullptr)
        return;
    g_pCurrentMonitor = pMonitor;
    pMonitor->ShowTotals();
}

bool CChildFrame::OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) {
    static constexpr CCommandEntry<CChildFrame> MAP[] = {
        {ID_SHOW_RECV, &CChildFrame::OnShowRecv, &CChildFrame::OnUpdateShowRecv},
        {ID_SHOW_SEND, &CChildFrame::OnShowSend, &CChildFrame::OnUpdateShowSend},
        {ID_CLEAR_RECV, &CChildFrame::OnClearRecv, nullptr},
        {ID_CLEAR_SEND, &CChildFrame::OnClearSend, nullptr},
        {ID_NEXT_PANE, &CChildFrame::OnNextPane, nullptr},
        {ID_PREV_PANE, &CChildFrame::OnNextPane, nullptr},
        {SC_CLOSE, &CChildFrame::OnSysClose, nullptr},
        {ID_VIEW_TIMELINE, &CChildFrame::OnViewTimeline, &CChildFrame::OnUpdateViewTimeline},
        {ID_FILE_SAVE, &CChildFrame::OnTimelineSave, nullptr},
    };
    return DispatchCmdMsg<CChildFrame>(this, MAP, nID, eMsg, pCmdUI);
}

void CChildFrame::OnShowRecv() {
    m_bRecvHidden = (m_bRecvHidden == 0 && m_bSendHidden == 0) ? 1 : 0;
    ApplyPaneLayout();
}

void CChildFrame::OnUpdateShowRecv(CCmdUI* pCmdUI) {
    pCmdUI->SetCheck(m_bRecvHidden == 0);
}

void CChildFrame::OnShowSend() {
    m_bSendHidden = (m_bRecvHidden == 0 && m_bSendHidden == 0) ? 1 : 0;
    ApplyPaneLayout();
}

void CChildFrame::OnUpdateShowSend(CCmdUI* pCmdUI) {
    pCmdUI->SetCheck(m_bSendHidden == 0);
}

// Only row 0 is ever sized: its height and its minimum, below which a drag
// collapses it. A hidden send pane gives the receive pane the whole window,
// however tall the window is, and keeps it so when the window grows.
void CChildFrame::ApplyPaneLayout() {
    const int nTotal = m_wndSplitter->height();
    int nRow0 = RECV_ROW_HEIGHT;
    int nMinimum = RECV_ROW_HEIGHT;
    if (m_bRecvHidden != 0)
        nRow0 = nMinimum = 0;
    else if (m_bSendHidden != 0)
        nRow0 = nTotal, nMinimum = 0;
    m_pViewRead->setMinimumHeight(nMinimum);
    m_wndSplitter->setStretchFactor(0, m_bSendHidden != 0 ? 1 : 0);
    m_wndSplitter->setStretchFactor(1, m_bSendHidden != 0 ? 0 : 1);
    m_wndSplitter->setSizes({nRow0, std::max(nTotal - nRow0, 0)});
}

void CChildFrame::OnClearRecv() {
    m_pViewRead->Clear();
    if (auto* pMonitor = dynamic_cast<CTrafficFormatter*>(m_pDocument))
        pMonitor->ResetRead();
}

void CChildFrame::OnClearSend() {
    m_pViewWrite->Clear();
    if (auto* pMonitor = dynamic_cast<CTrafficFormatter*>(m_pDocument))
        pMonitor->ResetWrite();
}

void CChildFrame::OnNextPane() {
    CPaneView* pOther = m_pActivePane == m_pViewRead ? static_cast<CPaneView*>(m_pViewWrite)
                                                     : static_cast<CPaneView*>(m_pViewRead);
    pOther->setFocus(Qt::OtherFocusReason);
    OnPaneFocused(pOther);
}

void CChildFrame::OnViewTimeline() {
    if (IsTimelineShown()) {
        m_pStack->setCurrentWidget(m_wndSplitter);
        m_pActivePane->setFocus(Qt::OtherFocusReason);
        return;
    }
    auto* pMonitor = dynamic_cast<CWireletDoc*>(m_pDocument);
    if (m_pTimeline == nullptr) {
        m_pTimeline = new CTimelinePane;
        m_pTimeline->SetModel(pMonitor != nullptr ? &pMonitor->GetTimeline() : nullptr);
        m_pStack->addWidget(m_pTimeline);
    }
    m_pStack->setCurrentWidget(m_pTimeline);
    m_pTimeline->setFocus(Qt::OtherFocusReason);
}

void CChildFrame::OnUpdateViewTimeline(CCmdUI* pCmdUI) {
    pCmdUI->SetCheck(IsTimelineShown());
}

// With the panes shown, Save is the active pane's, which the route asks
// first.
void CChildFrame::OnTimelineSave() {
    if (IsTimelineShown())
        m_pTimeline->OnExport();
}
