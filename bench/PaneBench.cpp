// Formatter and traffic panes together, on the offscreen platform: records
// applied in batches of what a 1.2 MB/s line brings in 16 ms, then one flush
// and one repaint of both panes per batch, as the monitor's event loop does.
// Measured once the receive pane is full, so every batch also drops lines.
#include "CTrafficFormatter.h"
#include "CViewRead.h"
#include "CViewWrite.h"
#include "DataRecord.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t BATCH_BYTES = 1'200'000 * 16 / 1000;
constexpr std::uint64_t MEASURED_BYTES = 48u << 20;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void Measure(std::uint32_t dwSize) {
    CViewRead read;
    CViewWrite write;
    for (CPaneView* pPane : {static_cast<CPaneView*>(&read), static_cast<CPaneView*>(&write)}) {
        pPane->SetPaneFont(CPaneView::MonitorFont());
        pPane->SetTabStops(CPaneView::MONITOR_TAB_STOPS);
        pPane->resize(580, 180);
        pPane->show();
    }
    CTrafficFormatter formatter;
    formatter.SetPanes(&read, &write);
    const auto record = DataRecord(dwSize);
    const std::size_t nPerBatch = std::max<std::size_t>(1, BATCH_BYTES / dwSize);
    const auto runBatch = [&] {
        for (std::size_t i = 0; i < nPerBatch; ++i)
            formatter.FormatRecord(CCaptureRecord::CopyOf(record));
    };
    const auto repaint = [&] {
        QCoreApplication::processEvents();
        read.viewport()->repaint();
        write.viewport()->repaint();
    };
    while (read.TextLength() + 2 * BATCH_BYTES * 4 < CTrafficFormatter::MAX_PANE_CHARS)
        runBatch();
    repaint();

    Clock::duration edits{}, paints{}, worst{};
    std::uint64_t qwBytes = 0, qwBatches = 0;
    while (qwBytes < MEASURED_BYTES) {
        const auto start = Clock::now();
        runBatch();
        const auto edited = Clock::now();
        repaint();
        const auto painted = Clock::now();
        edits += edited - start;
        paints += painted - edited;
        worst = std::max(worst, painted - start);
        qwBytes += nPerBatch * dwSize;
        ++qwBatches;
    }
    const double dTotal = Seconds(edits + paints);
    std::printf("%6u B %9.1f MB/s %9.1f us %9.1f us %9.2f ms %8.1f%%\n", dwSize,
                double(qwBytes) / dTotal / 1e6, Seconds(edits) / double(qwBatches) * 1e6,
                Seconds(paints) / double(qwBatches) * 1e6, Seconds(worst) * 1e3,
                100.0 * 1.2e6 * dTotal / double(qwBytes));
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("batches of %zu bytes, receive pane full\n", BATCH_BYTES);
    std::printf("record  throughput  edits/batch flush+paint  worst batch  UI time at 1.2 MB/s\n");
    std::vector<std::uint32_t> sizes = {1, 64, 4096};
    if (argc > 1)
        sizes.assign(1, static_cast<std::uint32_t>(std::atoi(argv[1])));
    for (const std::uint32_t dwSize : sizes)
        Measure(dwSize);
}
