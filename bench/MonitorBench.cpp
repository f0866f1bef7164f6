// The whole chain into real monitor windows: a replay vantry.sys serves a
// record file to every attachment, paced by the recorded times (or at once
// with --fast), and the program's own application object, on the offscreen
// platform, opens one or four monitors from its port list, each on a pty
// slave of its own. Per case it reports what the documents formatted per
// second, what was lost (the drop notices the monitors showed, and the
// totals against the file), the user-interface thread's worst event-loop
// stall (the longest gap between ticks of a 1 ms timer), and the resident
// memory at the end. Each case runs in a process of its own, so that the
// memory figures are its own.
//
// Usage: bench_monitor [SECONDS [CASE [QUEUE-LIMIT]]]: the paced length of
// each case (3 s by default), the number of the one case to run (all by
// default), and the driver's queue limit in bytes (its own by default; a
// small one shows losses within a short run). VANTRY_SYS=PATH runs another
// driver: an older one, which the monitors read a record at a time.
#include "CChildFrame.h"
#include "CDriverProcess.h"
#include "CMainFrame.h"
#include "CMessageBox.h"
#include "CPty.h"
#include "CWireletApp.h"
#include "CWireletDoc.h"
#include "Records.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

struct CCase {
    int nMonitors;
    std::size_t nRecordBytes;
    double dRate; // bytes a second into each monitor, both directions together
    bool bFast;
    bool bTimeline = false;      // each monitor window shows its timeline
    std::size_t nMinRecords = 0; // however short the run: to fill the timelines
};

// Enough for the figures, and few enough that the file and the driver's
// copy of it stay small.
constexpr std::size_t MAX_RECORDS = 100000;

// Closing the main window with monitors open warns; nobody is there to
// answer it.
class CSilentMessages : public IMessageBox {
public:
    void ShowWarning(const std::string&) override {}
};

// Read and written records in turn, so that both panes fill.
Records::Bytes ReplayFile(const CCase& c, std::size_t nRecords) {
    const std::uint64_t qwStart = 1'000'000'000'000'000'000ull;
    const double dGapNs = double(c.nRecordBytes) / c.dRate * 1e9;
    std::vector<Records::Bytes> records;
    records.reserve(nRecords);
    Records::Bytes payload(c.nRecordBytes);
    for (std::size_t i = 0; i < nRecords; ++i) {
        for (std::size_t k = 0; k < payload.size(); ++k)
            payload[k] = std::uint8_t(i + k);
        records.push_back(
            Records::Stamped(i % 2 ? Records::Written(payload) : Records::Read(payload),
                             qwStart + std::uint64_t(double(i) * dGapNs)));
    }
    return Records::File(records);
}

std::string StatusLine(const char* pszKey) {
    std::ifstream status("/proc/self/status");
    for (std::string strLine; std::getline(status, strLine);)
        if (strLine.rfind(pszKey, 0) == 0)
            return strLine.substr(strLine.find_first_not_of(" \t", std::strlen(pszKey)));
    return "?";
}

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

std::vector<CWireletDoc*> Monitors(CMainFrame& mainFrame) {
    std::vector<CWireletDoc*> docs;
    for (QMdiSubWindow* pWindow : mainFrame.GetMdiArea().subWindowList())
        if (auto* pFrame = qobject_cast<CChildFrame*>(pWindow))
            docs.push_back(dynamic_cast<CWireletDoc*>(pFrame->GetActiveDocument()));
    return docs;
}

int RunCase(std::size_t nCase, const CCase& c, double dSeconds, int argc, char* argv[]) {
    const std::size_t nRecords =
        std::max(c.nMinRecords,
                 std::min(MAX_RECORDS, std::size_t(c.dRate * dSeconds / double(c.nRecordBytes))));
    const double dPacedSeconds = double(nRecords * c.nRecordBytes) / c.dRate;
    const std::uint64_t qwExpected = nRecords * c.nRecordBytes;

    CDriverProcess driver;
    if (const char* pszDriver = std::getenv("VANTRY_SYS"))
        driver.UseBinary(pszDriver);
    std::vector<std::string> args{"--replay",
                                  driver.WriteFile("replay.rec", ReplayFile(c, nRecords))};
    if (c.bFast)
        args.push_back("--fast");
    if (argc > 3)
        args.insert(args.end(), {"--queue-limit", argv[3]});
    if (!driver.Start(args)) {
        std::fprintf(stderr, "vantry.sys did not start: %s\n", driver.Stderr().c_str());
        return 1;
    }
    driver.UseForThisProcess();
    std::vector<std::unique_ptr<CPty>> ptys;
    std::string strPortMap;
    for (int i = 0; i < c.nMonitors; ++i) {
        ptys.push_back(std::make_unique<CPty>());
        strPortMap += "port" + std::to_string(i) + "=" + ptys.back()->Slave() + "\n";
    }
    setenv("WIRELET_SERIALCOMM",
           driver.WriteFile("ports", Records::Bytes(strPortMap.begin(), strPortMap.end())).c_str(),
           1);
    setenv("WIRELET_SCM_ROOT", (driver.Dir() + "/scm").c_str(), 1);

    QApplication application(argc, argv);
    CSilentMessages messages;
    SetAfxMessages(&messages);
    std::uint64_t qwDropped = 0;
    double dWorstStallMs = 0, dWorstBusyMs = 0;
    {
        CWireletApp app;
        if (!app.InitInstance())
            return 1;
        CMainFrame& mainFrame = *app.GetMainFrame();
        // The status bar tells only of a change of text, so each notice is
        // taken off again once counted: the next one may read the same.
        QStatusBar* pStatusBar = mainFrame.statusBar();
        QObject::connect(pStatusBar, &QStatusBar::messageChanged, [&](const QString& strText) {
            static const QRegularExpression dropped("dropped (\\d+) records");
            if (const auto match = dropped.match(strText); match.hasMatch()) {
                qwDropped += match.captured(1).toULongLong();
                pStatusBar->clearMessage();
            }
        });

        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < c.nMonitors; ++i)
            mainFrame.OnSelendokPortCombo(0);
        const std::vector<CWireletDoc*> docs = Monitors(mainFrame);
        if (c.bTimeline)
            for (QMdiSubWindow* pWindow : mainFrame.GetMdiArea().subWindowList())
                if (auto* pFrame = qobject_cast<CChildFrame*>(pWindow))
                    pFrame->OnViewTimeline();

        // The gap between ticks beyond the timer's own millisecond is what
        // the event loop was held up. On a shared machine much of it can be
        // other processes holding the core; the thread's own processor time
        // in the gap is what the program spent.
        qint64 nLastTickNs = clock.nsecsElapsed();
        double dLastCpuMs = ThreadCpuMs();
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 nNow = clock.nsecsElapsed();
            const double dCpuMs = ThreadCpuMs();
            dWorstStallMs = std::max(dWorstStallMs, double(nNow - nLastTickNs) / 1e6 - 1.0);
            dWorstBusyMs = std::max(dWorstBusyMs, dCpuMs - dLastCpuMs);
            nLastTickNs = nNow;
            dLastCpuMs = dCpuMs;
        });
        ticker.start(1);
        const double dStartCpuMs = ThreadCpuMs();

        std::uint64_t qwFormatted = 0, qwAtPacedEnd = 0;
        double dLastProgress = 0, dFirstProgress = -1;
        const double dPacedEnd = c.bFast ? 0 : dPacedSeconds;
        bool bPacedEndSeen = c.bFast;
        for (;;) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            std::uint64_t qwNow = 0;
            for (const CWireletDoc* pDoc : docs)
                qwNow += pDoc->TotalRead() + pDoc->TotalWrite();
            const double dNow = double(clock.nsecsElapsed()) / 1e9;
            if (!bPacedEndSeen && dNow >= dPacedEnd) {
                qwAtPacedEnd = qwNow;
                bPacedEndSeen = true;
            }
            if (qwNow != qwFormatted)
                dLastProgress = dNow;
            if (qwNow != 0 && dFirstProgress < 0)
                dFirstProgress = dNow;
            qwFormatted = qwNow;
            const bool bAll = qwFormatted == qwExpected * std::uint64_t(c.nMonitors);
            // Lost records never come: a second without progress after the
            // file's end ends the case.
            if (bAll || (dNow > dPacedEnd && dNow - dLastProgress > 1.0) || dNow > 120)
                break;
        }
        ticker.stop();
        const double dUiLoad = (ThreadCpuMs() - dStartCpuMs) / 1e3 / dLastProgress;
        const double dPerMonitor = double(qwFormatted) / c.nMonitors;
        const double dLost = (double(qwExpected) - dPerMonitor) / double(c.nRecordBytes);
        // From the first record formatted: opening the windows left out.
        const double dDrainRate =
            dPerMonitor / double(c.nRecordBytes) / std::max(1e-3, dLastProgress - dFirstProgress);
        const double dBacklog =
            c.bFast ? 0 : double(qwExpected) - double(qwAtPacedEnd) / c.nMonitors;
        std::printf(
            "%2zu: %d x %4zu B %-6s %-8s %8zu rec %6.2f s | %9.0f B/s each (%7.0f rec/s from the "
            "first) %6.2f s %-5s %10.0f B behind, UI thread %3.0f %% busy | lost %8.0f (notices "
            "%8llu) | stall %6.1f ms (busy "
            "%5.1f) | RSS %s HWM %s\n",
            nCase, c.nMonitors, c.nRecordBytes, c.bFast ? "fast" : "paced",
            c.bTimeline ? "timeline" : "panes", nRecords, dPacedSeconds,
            dPerMonitor / dLastProgress, dDrainRate,
            c.bFast ? dLastProgress : dLastProgress - dPacedSeconds, c.bFast ? "taken" : "late",
            dBacklog, dUiLoad * 100, dLost * c.nMonitors,
            static_cast<unsigned long long>(qwDropped), dWorstStallMs, dWorstBusyMs,
            StatusLine("VmRSS:").c_str(), StatusLine("VmHWM:").c_str());
        std::fflush(stdout);
        mainFrame.close();
        app.ExitInstance();
    }
    SetAfxMessages(nullptr);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char szRuntime[] = "/tmp/bench-monitor-XXXXXX";
    setenv("XDG_RUNTIME_DIR", mkdtemp(szRuntime), 0);
    const double dSeconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    std::vector<CCase> cases;
    for (const auto& [nMonitors, dRate] : {std::pair{1, 1.2e6}, {4, 300e3}, {4, 1.2e6}})
        for (const std::size_t nBytes : {1u, 64u, 4096u})
            cases.push_back({nMonitors, nBytes, dRate, false});
    // At once: as many records as the paced 1.2 MB/s cases.
    for (const int nMonitors : {1, 4})
        for (const std::size_t nBytes : {1u, 64u, 4096u})
            cases.push_back({nMonitors, nBytes, 1.2e6, true});
    // The same traffic with the timelines shown, and four timelines filled to
    // their record limit.
    cases.push_back({1, 4096, 1.2e6, false, true});
    cases.push_back({4, 4096, 300e3, false, true});
    cases.push_back({4, 4096, 1.2e6, false, true, CTimelineModel::DEFAULT_MAX_RECORDS + 1000});
    std::printf("case: monitors x record, pacing, what the windows show, records, paced length | "
                "formatted per monitor "
                "(records a second from the first one formatted to the last), finished after the "
                "file's end (paced) or time taken (fast), backlog at the "
                "file's end, the user-interface thread's processor share | records lost | worst "
                "event-loop stall (the user-interface thread's own time in it) | memory at the "
                "end\n");
    std::fflush(stdout);
    const std::size_t nOnly = argc > 2 ? std::size_t(std::atoi(argv[2])) : 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (nOnly != 0 && nOnly != i + 1)
            continue;
        const CCase& c = cases[i];
        // A process per case: its resident-memory peak is its own.
        const pid_t nChild = fork();
        if (nChild == 0)
            _exit(RunCase(i + 1, c, dSeconds, argc, argv));
        int nStatus = 0;
        waitpid(nChild, &nStatus, 0);
    }
    rmdir(szRuntime);
}
