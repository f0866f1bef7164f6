// The live capture through a real vantry.sys, for two builds side by side:
// `bench_capture [--source SOURCE] [--late-openers] [OTHER_VANTRY_SYS]` runs
// each measurement with the other driver (an older build) and with this
// build's, and prints both columns; --source picks the drivers' capture
// (auto by default), --late-openers measures the late openers alone.
//  - late openers: 100 applications that open the port, set it and write at
//    once: how long from the open until a record names them, and whether
//    their first write was captured;
//  - the driver's peak resident memory while it traces one write of 256 MiB
//    that a client drains;
//  - a burst of 3,000 `stty -F` runs: how many opens and closes were
//    reported, when the last open came, and how many notices said that
//    opens or closes may be missing;
//  - while a process that cannot stop (a vfork parent) holds one port and
//    a client attaches and detaches it over and over, how long another
//    client waits for the attach and the detach of another port.
#include "BenchApps.h"
#include "CPty.h"
#include "CRawClient.h"
#include "IEventSource.h"
#include "VantryProtocol.h"

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What the drivers capture with: their own choice unless told.
std::string g_strSource = "auto";

struct CRecordSeen {
    std::int8_t nType;
    std::uint32_t dwPid;
    std::uint64_t qwTimeNs; // the record's own time
    Clock::time_point received;
    std::string strData;
};

// A driver of the given build on a device of its own, one attachment to the
// port, and a thread that drains it as fast as it can.
class CCapture {
public:
    CCapture(const std::string& strDriver, const std::string& strPort) {
        char szDir[] = "/tmp/capture-bench-XXXXXX";
        m_strDir = mkdtemp(szDir);
        const std::string strDevice = m_strDir + "/Vantry";
        m_nDriver = fork();
        if (m_nDriver == 0) {
            setenv(Vantry::DEVICE_PATH_VARIABLE, strDevice.c_str(), 1);
            freopen("/dev/null", "w", stderr);
            execl(strDriver.c_str(), strDriver.c_str(), "--source", g_strSource.c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 500 && !m_pClient; ++i) {
            try {
                m_pClient = std::make_unique<CRawClient>(strDevice, std::chrono::hours(1));
            } catch (const std::exception&) {
                usleep(10'000);
            }
        }
        m_dwHandle = m_pClient->AttachOk(strPort);
        m_reader = std::thread([this] { Drain(); });
    }
    ~CCapture() {
        kill(m_nDriver, SIGTERM);
        waitpid(m_nDriver, nullptr, 0);
        m_reader.join();
        std::filesystem::remove_all(m_strDir);
    }
    pid_t Driver() const { return m_nDriver; }
    std::string DevicePath() const { return m_strDir + "/Vantry"; }
    std::vector<CRecordSeen> Records() {
        std::lock_guard lock(m_mutex);
        return m_records;
    }
    void KeepData(bool bKeep) { m_bKeepData = bKeep; }

private:
    void Drain() {
        for (;;) {
            const auto record = m_pClient->Next(m_dwHandle);
            if (record.size() < Vantry::RECORD_DATA_OFFSET)
                return;
            CRecordSeen seen{std::int8_t(record[Vantry::RECORD_EVENT_TYPE_OFFSET]),
                             Vantry::GetU32(record.data() + Vantry::RECORD_PID_OFFSET),
                             Vantry::GetU64(record.data()),
                             Clock::now(),
                             {}};
            if (m_bKeepData || seen.nType != Vantry::CAPTURE_DATA_WRITTEN)
                seen.strData.assign(record.begin() + Vantry::RECORD_DATA_OFFSET, record.end());
            std::lock_guard lock(m_mutex);
            m_records.push_back(std::move(seen));
        }
    }

    std::string m_strDir;
    pid_t m_nDriver = -1;
    std::unique_ptr<CRawClient> m_pClient;
    std::uint32_t m_dwHandle = 0;
    std::atomic<bool> m_bKeepData{true};
    std::mutex m_mutex;
    std::vector<CRecordSeen> m_records;
    std::thread m_reader;
};

// Runs `body` in a child and returns what it wrote to the pipe, with its pid.
template <typename T, typename F> std::pair<pid_t, T> InChild(F body) {
    int hPipe[2];
    if (pipe(hPipe) != 0)
        std::exit(1);
    const pid_t nPid = fork();
    if (nPid == 0) {
        const T result = body();
        [[maybe_unused]] const auto n = write(hPipe[1], &result, sizeof result);
        _exit(0);
    }
    close(hPipe[1]);
    T result{};
    [[maybe_unused]] const auto n = read(hPipe[0], &result, sizeof result);
    close(hPipe[0]);
    waitpid(nPid, nullptr, 0);
    return {nPid, result};
}

struct CFigures {
    int nTraced = 0, nFirstCaptured = 0;
    double dMedianUs = 0, dP90Us = 0, dMaxUs = 0;
    double dPeakMb = 0;
    int nBurstOpens = 0, nBurstCloses = 0, nBurstLost = 0;
    double dBurstSeconds = 0;
    double dStuckCycleMs = 0; // the stuck port's attach and detach, median
    std::vector<double> attachMs, detachMs;
};

void LateOpeners(const std::string& strDriver, CFigures& figures) {
    constexpr int RUNS = 100;
    CPty pty;
    CCapture capture(strDriver, pty.Slave());
    std::vector<std::pair<pid_t, std::uint64_t>> runs;
    for (int i = 0; i < RUNS; ++i) {
        runs.push_back(InChild<std::uint64_t>([&] { return RunLateOpener(pty.Slave(), 5); }));
        usleep(20'000);
    }
    usleep(200'000);
    const auto records = capture.Records();
    std::vector<double> latencies;
    for (const auto& [nPid, qwOpen] : runs) {
        const auto first = std::find_if(records.begin(), records.end(), [&](const auto& r) {
            return r.dwPid == std::uint32_t(nPid);
        });
        if (first == records.end())
            continue;
        ++figures.nTraced;
        latencies.push_back(double(first->qwTimeNs - qwOpen) / 1e3);
        const std::string strChunk = LateOpenerChunk(0);
        figures.nFirstCaptured += std::any_of(records.begin(), records.end(), [&](const auto& r) {
            return r.dwPid == std::uint32_t(nPid) && r.nType == Vantry::CAPTURE_DATA_WRITTEN &&
                   r.strData == strChunk;
        });
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        figures.dMedianUs = latencies[latencies.size() / 2];
        figures.dP90Us = latencies[latencies.size() * 9 / 10];
        figures.dMaxUs = latencies.back();
    }
}

double PeakResidentMb(pid_t nPid) {
    std::ifstream status("/proc/" + std::to_string(nPid) + "/status");
    std::string strLine;
    while (std::getline(status, strLine)) {
        if (strLine.rfind("VmHWM:", 0) == 0)
            return double(std::stoul(strLine.substr(6))) / 1024;
    }
    return 0;
}

void LargeWrite(const std::string& strDriver, CFigures& figures) {
    constexpr std::size_t SIZE = 256u << 20;
    CPty pty;
    CCapture capture(strDriver, pty.Slave());
    capture.KeepData(false);
    InChild<int>([&] {
        const int hPort = open(pty.Slave().c_str(), O_RDWR | O_NOCTTY);
        SetRaw9600(hPort);
        usleep(100'000); // traced by now
        const std::string strData(SIZE, 'x');
        const bool bDone = write(hPort, strData.data(), SIZE) == ssize_t(SIZE);
        close(hPort);
        return int(bDone);
    });
    usleep(500'000);
    figures.dPeakMb = PeakResidentMb(capture.Driver());
}

void Burst(const std::string& strDriver, CFigures& figures) {
    constexpr int OPENERS = 3000;
    CPty pty;
    CCapture capture(strDriver, pty.Slave());
    std::string strPort = pty.Slave();
    char szStty[] = "/bin/stty", szF[] = "-F", szRate[] = "9600";
    char* argv[] = {szStty, szF, strPort.data(), szRate, nullptr};
    const auto start = Clock::now();
    std::vector<pid_t> children;
    for (int i = 0; i < OPENERS; ++i) {
        pid_t nPid;
        if (posix_spawn(&nPid, argv[0], nullptr, nullptr, argv, environ) == 0)
            children.push_back(nPid);
    }
    for (const pid_t nPid : children)
        waitpid(nPid, nullptr, 0);
    // Until every open is in, or nothing more came for two seconds.
    std::size_t nSeen = 0;
    for (auto quiet = Clock::now(); Clock::now() - quiet < std::chrono::seconds(2);) {
        const auto records = capture.Records();
        const auto count = [&](std::int8_t nType) {
            return int(std::count_if(records.begin(), records.end(),
                                     [&](const auto& r) { return r.nType == nType; }));
        };
        figures.nBurstOpens = count(Vantry::CAPTURE_PORT_OPENED);
        figures.nBurstCloses = count(Vantry::CAPTURE_PORT_CLOSED);
        figures.nBurstLost = int(std::count_if(records.begin(), records.end(), [](const auto& r) {
            return r.nType == Vantry::CAPTURE_DRIVER_NOTICE && r.strData.size() >= 4 &&
                   Vantry::GetU32(reinterpret_cast<const std::uint8_t*>(r.strData.data())) ==
                       Vantry::NOTICE_EVENTS_LOST;
        }));
        if (records.size() != nSeen) {
            nSeen = records.size();
            quiet = Clock::now();
        }
        if (figures.nBurstOpens >= OPENERS && figures.nBurstCloses >= OPENERS)
            break;
        usleep(10'000);
    }
    const auto records = capture.Records();
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->nType == Vantry::CAPTURE_PORT_OPENED) {
            figures.dBurstSeconds = std::chrono::duration<double>(it->received - start).count();
            break;
        }
    }
}

double Milliseconds(Clock::duration elapsed) {
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void StuckTracee(const std::string& strDriver, CFigures& figures) {
    constexpr int CYCLES = 50;
    CPty stuckPort, otherPort;
    const pid_t nStuck = fork();
    if (nStuck == 0) {
        const int hPort = open(stuckPort.Slave().c_str(), O_RDWR | O_NOCTTY);
        if (hPort >= 0 && vfork() == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            sleep(600);
        }
        _exit(0);
    }
    usleep(100'000); // in vfork by now
    CCapture capture(strDriver, otherPort.Slave());
    std::atomic<bool> bDone{false};
    std::vector<double> cycles;
    std::thread cycler([&] {
        CRawClient client(capture.DevicePath());
        while (!bDone) {
            const auto start = Clock::now();
            client.Detach(client.AttachOk(stuckPort.Slave()));
            cycles.push_back(Milliseconds(Clock::now() - start));
        }
    });
    CRawClient client(capture.DevicePath());
    for (int i = 0; i < CYCLES; ++i) {
        const auto start = Clock::now();
        const std::uint32_t dwHandle = client.AttachOk(otherPort.Slave());
        const auto attached = Clock::now();
        client.Detach(dwHandle);
        figures.attachMs.push_back(Milliseconds(attached - start));
        figures.detachMs.push_back(Milliseconds(Clock::now() - attached));
        usleep(5'000);
    }
    bDone = true;
    cycler.join();
    figures.dStuckCycleMs = Median(cycles);
    kill(nStuck, SIGKILL);
    waitpid(nStuck, nullptr, 0);
}

CFigures Measure(const std::string& strDriver, bool bLateOnly) {
    CFigures figures;
    LateOpeners(strDriver, figures);
    if (bLateOnly)
        return figures;
    LargeWrite(strDriver, figures);
    Burst(strDriver, figures);
    StuckTracee(strDriver, figures);
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    bool bLateOnly = false;
    std::string strOther;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--source" && i + 1 < argc)
            g_strSource = argv[++i];
        else if (strArg == "--late-openers")
            bLateOnly = true;
        else
            strOther = strArg;
    }
    std::vector<std::pair<std::string, CFigures>> columns;
    if (!strOther.empty())
        columns.emplace_back("other", Measure(strOther, bLateOnly));
    columns.emplace_back("this build", Measure(VANTRY_SYS_PATH, bLateOnly));
    auto row = [&](const char* pszWhat, auto value) {
        std::printf("%-44s", pszWhat);
        for (const auto& column : columns)
            std::printf(" %14s", value(column.second).c_str());
        std::printf("\n");
    };
    auto number = [](double d, const char* pszUnit, int nDecimals = 0) {
        char sz[64];
        std::snprintf(sz, sizeof sz, "%.*f %s", nDecimals, d, pszUnit);
        return std::string(sz);
    };
    std::printf("%-44s", "");
    for (const auto& column : columns)
        std::printf(" %14s", column.first.c_str());
    std::printf("\n");
    row("late openers traced (of 100)",
        [](const CFigures& f) { return std::to_string(f.nTraced); });
    row("  first write captured (of 100)",
        [](const CFigures& f) { return std::to_string(f.nFirstCaptured); });
    row("  open to traced, median", [&](const CFigures& f) { return number(f.dMedianUs, "us"); });
    row("  open to traced, 90th percentile",
        [&](const CFigures& f) { return number(f.dP90Us, "us"); });
    row("  open to traced, maximum", [&](const CFigures& f) { return number(f.dMaxUs, "us"); });
    if (bLateOnly)
        return 0;
    row("256 MiB write: driver's peak resident",
        [&](const CFigures& f) { return number(f.dPeakMb, "MB"); });
    row("burst of 3,000 stty: opens reported",
        [](const CFigures& f) { return std::to_string(f.nBurstOpens); });
    row("  closes reported", [](const CFigures& f) { return std::to_string(f.nBurstCloses); });
    row("  notices of opens or closes missing",
        [](const CFigures& f) { return std::to_string(f.nBurstLost); });
    row("  last open reported after",
        [&](const CFigures& f) { return number(f.dBurstSeconds * 1000, "ms"); });
    row("stuck tracee: its port attached and detached",
        [&](const CFigures& f) { return number(f.dStuckCycleMs, "ms", 2); });
    row("  another port's attach, median",
        [&](const CFigures& f) { return number(Median(f.attachMs), "ms", 2); });
    row("  another port's attach, maximum", [&](const CFigures& f) {
        return number(*std::max_element(f.attachMs.begin(), f.attachMs.end()), "ms", 2);
    });
    row("  another port's detach, median",
        [&](const CFigures& f) { return number(Median(f.detachMs), "ms", 2); });
    row("  another port's detach, maximum", [&](const CFigures& f) {
        return number(*std::max_element(f.detachMs.begin(), f.detachMs.end()), "ms", 2);
    });
    return 0;
}
