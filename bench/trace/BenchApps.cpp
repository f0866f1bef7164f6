#include "BenchApps.h"

#include "IEventSource.h"
#include "ProcScanner.h"

#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::uint64_t MonotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1'000'000'000u + std::uint64_t(now.tv_nsec);
}

} // namespace

void SetRaw9600(int hPort) {
    termios tio;
    tcgetattr(hPort, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    tcsetattr(hPort, TCSANOW, &tio);
}

CWriterResult RunWriter(const std::string& strPort, std::size_t nChunk, std::size_t nTotal,
                        bool bWaitTraced) {
    const int hPort = open(strPort.c_str(), O_RDWR | O_NOCTTY);
    if (hPort < 0) {
        std::perror("open");
        std::exit(1);
    }
    SetRaw9600(hPort);
    while (bWaitTraced && ProcScanner::TracerOf(getpid()) == 0)
        usleep(100);
    std::vector<char> chunk(nChunk);
    for (std::size_t i = 0; i < nChunk; ++i)
        chunk[i] = char('a' + i % 26);
    std::vector<std::uint64_t> latencies;
    latencies.reserve(nTotal / nChunk);
    const std::uint64_t qwStart = MonotonicNs();
    for (std::size_t nDone = 0; nDone < nTotal;) {
        const std::uint64_t qwBefore = MonotonicNs();
        const ssize_t n = write(hPort, chunk.data(), std::min(nChunk, nTotal - nDone));
        latencies.push_back(MonotonicNs() - qwBefore);
        if (n <= 0) {
            std::perror("write");
            std::exit(1);
        }
        nDone += std::size_t(n);
    }
    CWriterResult result;
    result.qwElapsedNs = MonotonicNs() - qwStart;
    result.qwWrites = latencies.size();
    std::nth_element(latencies.begin(), latencies.begin() + latencies.size() / 2, latencies.end());
    result.qwMedianWriteNs = latencies[latencies.size() / 2];
    close(hPort);
    return result;
}

std::string LateOpenerChunk(int nIndex) {
    char text[33];
    std::snprintf(text, sizeof text, "late opener write %03d .........", nIndex);
    return std::string(text, 32);
}

std::uint64_t RunLateOpener(const std::string& strPort, int nWrites) {
    const std::uint64_t qwOpen = RealtimeNs();
    const int hPort = open(strPort.c_str(), O_RDWR | O_NOCTTY);
    if (hPort < 0)
        std::exit(1);
    SetRaw9600(hPort);
    for (int i = 0; i < nWrites; ++i) {
        if (i > 0)
            usleep(10'000);
        const std::string strChunk = LateOpenerChunk(i);
        if (write(hPort, strChunk.data(), strChunk.size()) != ssize_t(strChunk.size()))
            std::exit(1);
    }
    close(hPort);
    return qwOpen;
}
