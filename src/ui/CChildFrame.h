// A monitor window: the receive pane over the send pane in a splitter, or
// the monitor's timeline in their place. It shows, hides and clears the
// panes, and when it gets the focus its monitor becomes the one whose totals
// the counters bar shows.
#pragma once

#include "CFrameWnd.h"

#include <QMdiSubWindow>

class CDocument;
class CView;
class CViewRead;
class CViewWrite;
class CMySplitter;
class CPaneView;
class CTimelinePane;
class QStackedWidget;

class CChildFrame : public QMdiSubWindow, public CFrameWnd {
    Q_OBJECT
public:
    static constexpr int INITIAL_WIDTH = 580;
    static constexpr int INITIAL_HEIGHT = 400;
    static constexpr int RECV_ROW_HEIGHT = 180;

    explicit CChildFrame(CDocument* pDocument, QWidget* pParent = nullptr);
    ~CChildFrame() override;

    CDocument* GetActiveDocument() const { return m_pDocument; }
    // The pane that last had the focus; the receive pane at first. None
    // while the timeline is shown: the panes' commands are not for it.
    CView* GetActiveView() const;
    // Made the first time it is shown.
    CTimelinePane* GetTimeline() const { return m_pTimeline; }
    bool IsTimelineShown() const;
    CViewRead* GetReadPane() const { return m_pViewRead; }
    CViewWrite* GetWritePane() const { return m_pViewWrite; }
    CMySplitter* GetSplitter() const { return m_wndSplitter; }

    void OnUpdateFrameTitle() override;
    void ActivateFrame() override;
    // The window goes when the event loop next runs, so that this is safe
    // from the window's own handlers.
    void DestroyFrame() override;
    // Makes this window's monitor the current one and shows its totals.
    void OnSetFocus();

    bool OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) override;
    void OnShowRecv();
    void OnUpdateShowRecv(CCmdUI* pCmdUI);
    void OnShowSend();
    void OnUpdateShowSend(CCmdUI* pCmdUI);
    void OnClearRecv();
    void OnClearSend();
    void OnNextPane();
    void OnSysClose();
    void OnViewTimeline();
    void OnUpdateViewTimeline(CCmdUI* pCmdUI);
    // Save while the timeline is shown exports the timeline.
    void OnTimelineSave();

    int m_bRecvHidden = 0;
    int m_bSendHidden = 0;

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void ApplyPaneLayout();
    void OnPaneFocused(CPaneView* pPane);

    CDocument* m_pDocument;
    QStackedWidget* m_pStack;
    CMySplitter* m_wndSplitter;
    CTimelinePane* m_pTimeline = nullptr;
    CViewRead* m_pViewRead;
    CViewWrite* m_pViewWrite;
    CPaneView* m_pActivePane;
    bool m_bDestroying = false;
};
