#include "CWireletDoc.h"

#include "AfxMessages.h"
#include "CRecordReader.h"
#include "CView.h"
#include "DriverDevice.h"
#include "ICounters.h"
#include "IMonitorHost.h"
#include "MonitorMessages.h"
#include "NoticeText.h"

#include <cerrno>
#include <cstring>

int g_nOpenMonitors = 0;
bool g_bClosing = false;

int CWireletDoc::s_nRunning = 0;

CWireletDoc::CWireletDoc() {
    m_drainTimer.setSingleShot(true);
    QObject::connect(&m_drainTimer, &QTimer::timeout, [this] { DrainRecords(); });
    if (IMonitorHost* pHost = AfxGetMonitorHost())
        SetCounters(&pHost->GetCounters());
}

CWireletDoc::~CWireletDoc() {
    StopReader();
}

int CWireletDoc::AttachPort(const QString& strPortName) {
    ++g_nOpenMonitors;
    m_bCounted = true;
    if (const int nError = g_hDevice.Attach(strPortName.toStdString(), m_hAttach))
        return nError;
    SetTitle(strPortName);
    m_strPortName = strPortName;
    return 0;
}

void CWireletDoc::StartMonitor() {
    // A pane shows its document's text by watching its store.
    if (!GetReadStore().HasObservers())
        AfxMessages().ShowWarning(MSG_NO_READ_VIEW);
    if (!GetWriteStore().HasObservers())
        AfxMessages().ShowWarning(MSG_NO_WRITE_VIEW);
    SetPanes(&GetReadStore(), &GetWriteStore());

    m_hStopEvent = std::make_unique<CStopEvent>();
    m_pReaderThread = std::make_unique<std::thread>(ReaderThreadProc, this, m_hAttach);
    ++s_nRunning;
    UpdateAllViews(nullptr, HINT_MONITOR_STARTED);
}

void CWireletDoc::AddView(CView* pView) {
    CDocument::AddView(pView);
    if (IsRunning())
        pView->OnUpdate(nullptr, HINT_MONITOR_STARTED);
}

unsigned CWireletDoc::ReaderThreadProc(CWireletDoc* pDoc, CAttachHandle hAttach) {
    return pDoc->ReaderLoop(hAttach);
}

// The handle is the one attached when the thread started: the user-interface
// thread never changes what this thread reads.
unsigned CWireletDoc::ReaderLoop(CAttachHandle hAttach) {
    CRecordReader reader(g_hDevice, hAttach);
    for (;;) {
        CCaptureRecord record;
        if (const int nError = reader.Next(*m_hStopEvent, record)) {
            if (nError != ECANCELED)
                QMetaObject::invokeMethod(
                    &m_drainTimer, [this, nError] { OnReaderEnded(nError); }, Qt::QueuedConnection);
            break;
        }
        bool bWake = false;
        if (!m_records.Push(std::move(record), bWake))
            break;
        if (bWake)
            PostDrain();
    }
    return 0;
}

void CWireletDoc::OnReaderEnded(int nError) {
    IMonitorHost* pHost = AfxGetMonitorHost();
    if (m_bClosing || pHost == nullptr)
        return;
    pHost->ShowPortNotice(m_strPortName,
                          CVantryDevice::IsDriverGone(nError)
                              ? QString::fromUtf8(MSG_DRIVER_GONE)
                              : QString::fromUtf8(MSG_CAPTURE_ENDED).arg(std::strerror(nError)));
}

void CWireletDoc::PostDrain() {
    QMetaObject::invokeMethod(
        &m_drainTimer, [this] { ScheduleDrain(); }, Qt::QueuedConnection);
}

void CWireletDoc::ScheduleDrain() {
    if (m_drainTimer.isActive())
        return;
    const qint64 nSince = m_sinceDrain.isValid() ? m_sinceDrain.elapsed() : DRAIN_INTERVAL_MS;
    m_drainTimer.start(int(std::max<qint64>(0, DRAIN_INTERVAL_MS - nSince)));
}

// One batch: what arrived, up to the time budget. The panes repaint once
// after it, and what is left waits behind the events that came meanwhile.
void CWireletDoc::DrainRecords() {
    m_sinceDrain.start();
    const int nBudget = std::max(1, DRAIN_BUDGET_MS / std::max(1, s_nRunning));
    QElapsedTimer timer;
    timer.start();
    CCaptureRecord record;
    while (m_records.Pop(record)) {
        // Lost traffic, and another process on the port, are never silent.
        auto strNotice = NoticeText::Describe(record.View());
        if (auto strPresence = m_timeline.Append(record.View()))
            strNotice = std::move(strPresence);
        if (IMonitorHost* pHost = AfxGetMonitorHost(); pHost != nullptr && strNotice)
            pHost->ShowNotice(m_strPortName + QStringLiteral(": ") +
                              QString::fromStdString(*strNotice));
        FormatRecord(std::move(record));
        if (timer.elapsed() >= nBudget) {
            m_drainTimer.start(0);
            return;
        }
    }
}

void CWireletDoc::StopReader() {
    if (!m_pReaderThread)
        return;
    // The reader never waits for this thread, so the join cannot deadlock:
    // the stop event ends its driver request, Stop() its wait for room.
    m_hStopEvent->Set();
    m_records.Stop();
    m_pReaderThread->join();
    m_pReaderThread.reset();
    --s_nRunning;
    m_hStopEvent.reset();
}

void CWireletDoc::OnCloseDocument() {
    IMonitorHost* pHost = AfxGetMonitorHost();
    m_bClosing = true;
    if (m_bCounted) {
        --g_nOpenMonitors;
        m_bCounted = false;
    }
    if (!m_strPortName.isEmpty() && pHost != nullptr)
        pHost->AddPortToList(m_strPortName);
    if (!g_bClosing)
        AfxMessages().ShowWarning(MSG_CLOSE_APPLICATIONS);
    if (m_hAttach.IsValid()) {
        if (g_hDevice.Detach(m_hAttach) == 0)
            m_hAttach = CAttachHandle();
        else
            AfxMessages().ShowWarning(MSG_UNKNOWN_ERROR);
    }
    StopReader();
    m_records.Clear();
    SetPanes(nullptr, nullptr);
    if (m_pCounters != nullptr) {
        m_pCounters->SetRecvCount(u"");
        m_pCounters->SetSendCount(u"");
    }
    CDocument::OnCloseDocument();
}
