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
#include <thread>
#include <vector>

namespace {

constexpr int CALLS = 200'000;
constexpr int ROUNDS = 9;

double NsPerCall(const std::function<void()>& call) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < CALLS; ++i)
        call();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
               .count() /
           CALLS;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

// An unrelated process's system calls while the eBPF source watches a port
// (every call of the machine passes its programs then) and while it does
// not, in turns, so that the machine's other load falls on both alike.
void MeasureUnrelatedCalls(const CPortId& port, int hNode) {
    const int hNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const std::function<void()> calls[] = {
        [] { syscall(SYS_getpid); }, [hNull] { [[maybe_unused]] auto n = write(hNull, "x", 1); }};
    std::vector<double> idle[2], watched[2];
    CQueueSink sink([](const CQueuedRecord&) {});
    try {
        CBpfSource source(sink);
        for (int nRound = 0; nRound < ROUNDS; ++nRound) {
            for (int i = 0; i < 2; ++i)
                idle[i].push_back(NsPerCall(calls[i]));
            std::promise<int> answer;
            source.WatchPort(port, hNode, 0, 1, [&](int nError) { answer.set_value(nError); });
            if (answer.get_future().get() != 0)
                return;
            for (int i = 0; i < 2; ++i)
                watched[i].push_back(NsPerCall(calls[i]));
            source.UnwatchPort(1);
            // The programs are let go on the source's thread.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    } catch (const std::exception& error) {
        std::printf("eBPF refused: %s\n", error.what());
        return;
    }
    close(hNull);
    const char* const NAMES[] = {"getpid", "1-byte write to /dev/null"};
    std::printf("\nUnrelated calls, eBPF not watching / watching a port (median of %d turns):\n",
                ROUNDS);
    for (int i = 0; i < 2; ++i)
        std::printf("  %s: %.0f ns -> %.0f ns (%+.1f%%)\n", NAMES[i], Median(idle[i]),
                    Median(watched[i]), (Median(watched[i]) / Median(idle[i]) - 1) * 100);
}
