// What tracing costs and how soon it starts, measured side by side in one
// run on one pty:
//  - an application writing 1 MiB in 64-byte and 4096-byte writes (64 KiB
//    in 1-byte writes), untraced, captured with eBPF where the kernel takes
//    it, and traced, next to a bare ptrace loop (the floor of any
//    ptrace-based capture) and strace, with the median time of one write()
//    and the records a draining client lost;
//  - the 64-byte writer through vantry.sys with wirelet-cli capture draining;
//  - 100 applications that open the port after it is watched: how often
//    their first write was captured, and the time from open to traced.
#include "BenchApps.h"
#ifdef VANTRY_HAVE_EBPF
#include "CBpfSource.h"
#endif
#include "CDriverProcess.h"
#include "CQueueSink.h"
#include "CTraceSource.h"
#include "PortAccess.h"
#include "RecordFileTally.h"
#include "UnrelatedCalls.h"
#include "VantryProtocol.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

extern char** environ;

namespace {

constexpr std::size_t MIB = 1u << 20;

// The device end of the line: reads and discards whatever is sent.
class CDevice {
public:
    CDevice() {
        m_hMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(m_hMaster);
        unlockpt(m_hMaster);
        m_strSlave = ptsname(m_hMaster);
        m_hStop = eventfd(0, EFD_CLOEXEC);
        m_reader = std::thread([this] {
            char buffer[65536];
            for (;;) {
                pollfd fds[2] = {{m_hMaster, POLLIN, 0}, {m_hStop, POLLIN, 0}};
                poll(fds, 2, -1);
                if (fds[1].revents)
                    return;
                if (read(m_hMaster, buffer, sizeof buffer) <= 0)
                    usleep(1000); // no slave open right now
            }
        });
    }
    ~CDevice() {
        const std::uint64_t qwOne = 1;
        [[maybe_unused]] auto n = write(m_hStop, &qwOne, sizeof qwOne);
        m_reader.join();
        close(m_hMaster);
        close(m_hStop);
    }
    const std::string& Slave() const { return m_strSlave; }

private:
    int m_hMaster, m_hStop;
    std::string m_strSlave;
    std::thread m_reader;
};

// Runs `body` in a grandchild and returns what it sent back; `onStarted`
// runs here with the grandchild's pid while it works. The process in the
// middle is its real parent and waits for it: any wait from this process,
// which also holds the tracer, could take a stop meant for the tracer.
template <typename T>
T InChild(
    const std::function<T()>& body, const std::function<void(pid_t)>& onStarted = [](pid_t) {}) {
    int resultPipe[2], pidPipe[2];
    if (pipe(resultPipe) != 0 || pipe(pidPipe) != 0)
        std::exit(1);
    const pid_t nMiddle = fork();
    if (nMiddle == 0) {
        const pid_t nWorker = fork();
        if (nWorker == 0) {
            const T result = body();
            [[maybe_unused]] auto n = write(resultPipe[1], &result, sizeof result);
            _exit(0);
        }
        [[maybe_unused]] auto n = write(pidPipe[1], &nWorker, sizeof nWorker);
        int nStatus;
        waitpid(nWorker, &nStatus, 0);
        _exit(0);
    }
    close(resultPipe[1]);
    close(pidPipe[1]);
    pid_t nWorker = -1;
    [[maybe_unused]] auto nPid = read(pidPipe[0], &nWorker, sizeof nWorker);
    onStarted(nWorker);
    T result{};
    [[maybe_unused]] auto n = read(resultPipe[0], &result, sizeof result);
    close(resultPipe[0]);
    close(pidPipe[0]);
    int nStatus;
    waitpid(nMiddle, &nStatus, 0);
    return result;
}

// The least any ptrace-based capture can cost: a tracer that stops the
// writer at every system call entry and exit and does nothing else.
// 1-byte writes are so many that 64 KiB of them make the point.
std::size_t TotalFor(std::size_t nChunk) {
    return nChunk == 1 ? 64 * 1024 : MIB;
}

CWriterResult UnderBarePtrace(const std::string& strPort, std::size_t nChunk) {
    std::thread tracer;
    const auto result = InChild<CWriterResult>(
        [&] { return RunWriter(strPort, nChunk, TotalFor(nChunk), true); },
        [&](pid_t nPid) {
            tracer = std::thread([nPid] {
                ptrace(PTRACE_SEIZE, nPid, 0, PTRACE_O_TRACESYSGOOD);
                ptrace(PTRACE_INTERRUPT, nPid, 0, 0);
                int nStatus;
                while (waitpid(nPid, &nStatus, __WALL) == nPid && WIFSTOPPED(nStatus)) {
                    const int nSignal = WSTOPSIG(nStatus);
                    const bool bOurs = nSignal == (SIGTRAP | 0x80) || (nStatus >> 16) != 0;
                    ptrace(PTRACE_SYSCALL, nPid, 0, bOurs ? 0 : nSignal);
                }
            });
        });
    tracer.join();
    return result;
}

double MegabytesPerSecond(const CWriterResult& result, std::size_t nTotal = MIB) {
    return double(nTotal) / 1e6 / (double(result.qwElapsedNs) / 1e9);
}

double WritesPerSecond(const CWriterResult& result) {
    return double(result.qwWrites) / (double(result.qwElapsedNs) / 1e9);
}

// The writer while a source watches the port, and the data records it
// published.
struct CSourceRun {
    CWriterResult writer;
    std::uint64_t qwRecords = 0, qwBytes = 0, qwDropped = 0;
    bool bRan = false;
};

template <typename TSource>
CSourceRun UnderSource(const std::string& strPort, const CPortId& port, int hNode,
                       std::size_t nChunk) {
    std::atomic<std::uint64_t> qwRecords{0}, qwBytes{0};
    CQueueSink sink([&](const CQueuedRecord& record) {
        if (record.nType == Vantry::CAPTURE_DATA_WRITTEN) {
            ++qwRecords;
            qwBytes += record.payload.size();
        }
    });
    CSourceRun run;
    {
        TSource source(sink);
        std::promise<int> answer;
        source.WatchPort(port, hNode, 0, 1, [&](int nError) { answer.set_value(nError); });
        if (answer.get_future().get() != 0)
            return run;
        // ptrace: the writer waits to be traced; eBPF sees it from the open.
        run.writer = InChild<CWriterResult>([&] {
            return RunWriter(strPort, nChunk, TotalFor(nChunk),
                             std::is_same_v<TSource, CTraceSource>);
        });
        // What the eBPF source looks at on its timer is in by then.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    sink.Drain();
    run.qwRecords = qwRecords;
    run.qwBytes = qwBytes;
    run.qwDropped = sink.Dropped();
    run.bRan = true;
    return run;
}

// The writer under strace, for scale; empty when strace is missing.
std::optional<CWriterResult> UnderStrace(const std::string& strPort, std::size_t nChunk) {
    if (access("/usr/bin/strace", X_OK) != 0)
        return std::nullopt;
    const std::string strCommand = "/usr/bin/strace -qq -o /dev/null -e trace=write "
                                   "/proc/" +
                                   std::to_string(getpid()) + "/exe --writer " + strPort + " " +
                                   std::to_string(nChunk);
    FILE* pOutput = popen(strCommand.c_str(), "r");
    if (!pOutput)
        return std::nullopt;
    CWriterResult result;
    unsigned long long qwElapsed = 0, qwMedian = 0, qwWrites = 0;
    const int nFields = std::fscanf(pOutput, "%llu %llu %llu", &qwElapsed, &qwMedian, &qwWrites);
    pclose(pOutput);
    if (nFields != 3)
        return std::nullopt;
    result.qwElapsedNs = qwElapsed;
    result.qwMedianWriteNs = qwMedian;
    result.qwWrites = qwWrites;
    return result;
}

void Throughput(const CDevice& device, const CPortId& port, int hNode) {
    std::printf("Capture cost: bytes written to a pty, side by side\n");
    std::printf("%-6s %-11s %9s %11s %14s %10s %10s\n", "write", "run", "MB/s", "writes/s",
                "median write", "records", "lost");
    for (const std::size_t nChunk : {std::size_t(1), std::size_t(64), std::size_t(4096)}) {
        const std::size_t nTotal = TotalFor(nChunk);
        const auto untraced = InChild<CWriterResult>(
            [&] { return RunWriter(device.Slave(), nChunk, nTotal, false); });
        CSourceRun bpf;
#ifdef VANTRY_HAVE_EBPF
        try {
            bpf = UnderSource<CBpfSource>(device.Slave(), port, hNode, nChunk);
        } catch (const std::exception& error) {
            std::printf("eBPF refused: %s\n", error.what());
        }
#endif
        const auto traced = UnderSource<CTraceSource>(device.Slave(), port, hNode, nChunk);
        const auto bare = UnderBarePtrace(device.Slave(), nChunk);
        const auto straced = UnderStrace(device.Slave(), nChunk);

        const auto row = [&](const char* pszRun, const CWriterResult& result,
                             const CSourceRun* pRun) {
            std::printf("%-6zu %-11s %9.2f %11.0f %11.2f us", nChunk, pszRun,
                        MegabytesPerSecond(result, nTotal), WritesPerSecond(result),
                        double(result.qwMedianWriteNs) / 1e3);
            if (pRun)
                std::printf(" %10llu %10llu\n", (unsigned long long)pRun->qwRecords,
                            (unsigned long long)pRun->qwDropped);
            else
                std::printf(" %10s %10s\n", "-", "-");
        };
        row("untraced", untraced, nullptr);
        if (bpf.bRan)
            row("eBPF", bpf.writer, &bpf);
        row("ptrace", traced.writer, &traced);
        row("bare ptrace", bare, nullptr);
        if (straced)
            row("strace", *straced, nullptr);
        const auto ratio = [&](const CWriterResult& result) {
            return WritesPerSecond(result) / WritesPerSecond(untraced);
        };
        std::printf("       of untraced: eBPF %.2fx, ptrace %.2fx%s; captured: eBPF %llu, ptrace "
                    "%llu of %zu bytes\n",
                    bpf.bRan ? ratio(bpf.writer) : 0.0, ratio(traced.writer),
                    straced
                        ? (", strace " + std::to_string(ratio(*straced)).substr(0, 4) + "x").c_str()
                        : "",
                    (unsigned long long)bpf.qwBytes, (unsigned long long)traced.qwBytes, nTotal);
    }
}

// The 64-byte writer once more through the real thing: vantry.sys traces
// it and `wirelet-cli capture` drains the records over the driver device.
void ThroughDriver(const CDevice& device, const std::string& strSource) {
    CDriverProcess driver;
    if (!driver.Start({"--source", strSource})) {
        std::printf("vantry.sys did not start: %s\n", driver.Stderr().c_str());
        return;
    }
    driver.UseForThisProcess();
    const std::string strFile = driver.Dir() + "/capture.rec";
    std::vector<std::string> args{WIRELET_CLI_PATH, "capture", device.Slave(), "-o", strFile};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t nCapture;
    if (posix_spawn(&nCapture, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return;
    // ptrace: the writer waits to be traced; eBPF: for the capture's attach.
    const bool bPtrace = strSource == "ptrace";
    if (!bPtrace)
        usleep(300'000);
    const auto traced =
        InChild<CWriterResult>([&] { return RunWriter(device.Slave(), 64, MIB, bPtrace); });
    // The client drains at its own pace: wait until the file holds it all.
    CFileTally tally;
    for (int i = 0; i < 200; ++i) {
        tally = Tally(strFile);
        if (tally.qwWritten + tally.qwDropped * 64 >= MIB)
            break;
        usleep(25'000);
    }
    kill(nCapture, SIGINT);
    waitpid(nCapture, nullptr, 0);
    tally = Tally(strFile);
    std::printf("64 B through vantry.sys (%s) and wirelet-cli capture: %.1f MB/s, median write "
                "%.2f us, %llu records, lost %llu, captured %llu of %zu bytes\n",
                strSource.c_str(), MegabytesPerSecond(traced), double(traced.qwMedianWriteNs) / 1e3,
                (unsigned long long)tally.qwRecords, (unsigned long long)tally.qwDropped,
                (unsigned long long)tally.qwWritten, MIB);
}

template <typename TSource>
void LateOpeners(const CDevice& device, const CPortId& port, int hNode, const char* pszSource) {
    constexpr int RUNS = 100, WRITES = 5;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::uint32_t, std::vector<CQueuedRecord>> byPid;
    CQueueSink sink([&](const CQueuedRecord& record) {
        std::lock_guard lock(mutex);
        byPid[record.dwPid].push_back(record);
        changed.notify_all();
    });
    TSource source(sink);
    std::promise<int> answer;
    source.WatchPort(port, hNode, 0, 1, [&](int nError) { answer.set_value(nError); });
    if (answer.get_future().get() != 0)
        return;

    int nFirstCaptured = 0, nTraced = 0;
    std::vector<double> latencies;
    for (int nRun = 0; nRun < RUNS; ++nRun) {
        struct CRun {
            pid_t nPid;
            std::uint64_t qwOpen;
        };
        const auto run = InChild<CRun>([&] {
            return CRun{getpid(), RunLateOpener(device.Slave(), WRITES)};
        });
        std::unique_lock lock(mutex);
        // Its close ends the run.
        changed.wait_for(lock, std::chrono::seconds(2), [&] {
            const auto& records = byPid[std::uint32_t(run.nPid)];
            return !records.empty() && records.back().nType == Vantry::CAPTURE_PORT_CLOSED;
        });
        const std::string strFirst = LateOpenerChunk(0);
        for (const auto& record : byPid[std::uint32_t(run.nPid)]) {
            if (record.nType == Vantry::CAPTURE_PORT_OPENED) {
                ++nTraced;
                latencies.push_back(double(record.qwTimeNs - run.qwOpen) / 1e3);
            }
            if (record.nType == Vantry::CAPTURE_DATA_WRITTEN &&
                std::string(record.payload.begin(), record.payload.end()) == strFirst)
                ++nFirstCaptured;
        }
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("\nLate openers (%s): %d runs, open, 9600 8N1, 32 bytes at once and every 10 ms\n",
                pszSource, RUNS);
    std::printf("  traced: %d of %d; first write captured: %d of %d\n", nTraced, RUNS,
                nFirstCaptured, RUNS);
    if (!latencies.empty())
        std::printf("  open to traced: median %.0f us, 90th percentile %.0f us, max %.0f us\n",
                    latencies[latencies.size() / 2], latencies[latencies.size() * 9 / 10],
                    latencies.back());
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--writer") == 0) {
        const auto result =
            RunWriter(argv[2], std::stoul(argv[3]), TotalFor(std::stoul(argv[3])), false);
        std::printf("%llu %llu %llu\n", (unsigned long long)result.qwElapsedNs,
                    (unsigned long long)result.qwMedianWriteNs,
                    (unsigned long long)result.qwWrites);
        return 0;
    }
    CTraceSource::BlockChildSignal();
    CDevice device;
    CPortId port;
    CScopedFd node;
    if (PortAccess::Check(device.Slave(), CPeer{}, port, node) != 0)
        return 1;
#ifdef VANTRY_HAVE_EBPF
    // --unrelated: that measurement alone.
    if (argc == 2 && std::strcmp(argv[1], "--unrelated") == 0) {
        MeasureUnrelatedCalls(port, node.Get());
        return 0;
    }
#endif
    Throughput(device, port, node.Get());
    ThroughDriver(device, "ebpf");
    ThroughDriver(device, "ptrace");
#ifdef VANTRY_HAVE_EBPF
    try {
        LateOpeners<CBpfSource>(device, port, node.Get(), "eBPF");
    } catch (const std::exception& error) {
        std::printf("eBPF refused: %s\n", error.what());
    }
#endif
    LateOpeners<CTraceSource>(device, port, node.Get(), "ptrace");
#ifdef VANTRY_HAVE_EBPF
    MeasureUnrelatedCalls(port, node.Get());
#endif
    return 0;
}
