#include "UnrelatedCalls.h"

#include "CBpfSource.h"
#include "CQueueSink.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <vector>

// An unrelated process's system calls while the eBPF source watches a port:
// every call of the machine passes its programs.
void MeasureUnrelatedCalls(const CPortId& port, int hNode) {
    constexpr int CALLS = 1'000'000;
    const auto timed = [](const std::function<void()>& call) {
        std::vector<double> runs;
        for (int nRun = 0; nRun < 5; ++nRun) {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < CALLS; ++i)
                call();
            runs.push_back(
                std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                    .count() /
                CALLS);
        }
        std::sort(runs.begin(), runs.end());
        return runs[runs.size() / 2];
    };
    const int hNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const auto getpidCall = [] { syscall(SYS_getpid); };
    const auto nullWrite = [hNull] { [[maybe_unused]] auto n = write(hNull, "x", 1); };
    const double dGetpid = timed(getpidCall), dNull = timed(nullWrite);
    CQueueSink sink([](const CQueuedRecord&) {});
    try {
        CBpfSource source(sink);
        std::promise<int> answer;
        source.WatchPort(port, hNode, 0, 1, [&](int nError) { answer.set_value(nError); });
        answer.get_future().get();
        const double dGetpidWatched = timed(getpidCall), dNullWatched = timed(nullWrite);
        std::printf("\nUnrelated calls while eBPF watches a port (median of 5 x %d):\n"
                    "  getpid %.0f ns -> %.0f ns (%+.1f%%), 1-byte write to /dev/null %.0f ns -> "
                    "%.0f ns (%+.1f%%)\n",
                    CALLS, dGetpid, dGetpidWatched, (dGetpidWatched / dGetpid - 1) * 100, dNull,
                    dNullWatched, (dNullWatched / dNull - 1) * 100);
    } catch (const std::exception& error) {
        std::printf("eBPF refused: %s\n", error.what());
    }
    close(hNull);
}
