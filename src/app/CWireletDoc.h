// The monitor of one port: the document behind a monitor window. It attaches
// the driver to the port, runs a reader thread that only fetches records,
// and formats them on the user-interface thread in batches, so that a clear
// never interleaves with formatting and a fast line cannot freeze the window.
#pragma once

#include "CAttachHandle.h"
#include "CDocument.h"
#include "CRecordQueue.h"
#include "CStopEvent.h"
#include "CTimelineModel.h"
#include "CTrafficFormatter.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <memory>
#include <thread>

// Monitors opened from the port list and not yet closed.
extern int g_nOpenMonitors;
// Set when the main window closes with monitors open; never cleared.
extern bool g_bClosing;

class CWireletDoc : public CDocument, public CTrafficFormatter {
public:
    CWireletDoc();
    ~CWireletDoc() override;

    bool SaveModified() override { return true; }
    void OnCloseDocument() override;
    // A window opened on a running monitor looks as its first one does.
    void AddView(CView* pView) override;

    // The open sequence's part of the document: counts the monitor and asks
    // the driver to attach to the port. On success the document takes the
    // port's name as title. Returns 0 or the driver's errno value.
    int AttachPort(const QString& strPortName);
    // Checks that the panes are there, starts the reader thread, which
    // writes the text every window on the monitor shows, and tells the
    // views that the monitor runs. Called once, after a successful attach.
    void StartMonitor();
    // The hint that tells a view the monitor runs: it shows its text as a
    // monitor does (font, tab stops).
    static constexpr long HINT_MONITOR_STARTED = 1;

    bool IsRunning() const { return m_pReaderThread != nullptr; }
    // Every record in one stream, which the monitor's windows show on demand.
    CTimelineModel& GetTimeline() { return m_timeline; }

    // How long the batches of all running monitors together may hold the
    // user-interface thread between two repaints, and how often a monitor's
    // batches start at most: a slow trickle of records is gathered rather
    // than repainted record by record.
    static constexpr int DRAIN_BUDGET_MS = 8;
    static constexpr int DRAIN_INTERVAL_MS = 16;

private:
    static unsigned ReaderThreadProc(CWireletDoc* pDoc, CAttachHandle hAttach);
    unsigned ReaderLoop(CAttachHandle hAttach);
    void PostDrain();
    void ScheduleDrain();
    void DrainRecords();
    void StopReader();
    // The reader ended by itself: the capture has stopped, which is said.
    void OnReaderEnded(int nError);

    std::unique_ptr<CStopEvent> m_hStopEvent;
    std::unique_ptr<std::thread> m_pReaderThread;
    QString m_strPortName;
    CAttachHandle m_hAttach;
    bool m_bCounted = false;
    // Set once the close begins: the detach ends the reader then, unsaid.
    bool m_bClosing = false;
    CRecordQueue m_records;
    CTimelineModel m_timeline;
    // Running monitors share the budget: their batches run back to back.
    static int s_nRunning;
    // Batches start from this timer, and the reader's wake-ups are posted to
    // it, so those still pending die with the document.
    QTimer m_drainTimer;
    QElapsedTimer m_sinceDrain;
};
