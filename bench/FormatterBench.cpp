// Formatter throughput into the in-memory pane, for several record sizes,
// while the pane fills up and once it is full (when every record also drops
// the oldest lines). The two phases should cost the same per byte.
#include "CMemoryPane.h"
#include "CTrafficFormatter.h"
#include "DataRecord.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct CPhase {
    double dSeconds = 0;
    std::uint64_t qwBytes = 0;
    std::uint64_t qwRecords = 0;

    void Print(const char* pszName, std::uint32_t dwSize) const {
        std::printf("%6u B  %-10s %10.1f MB/s %12.0f records/s  (%llu records)\n", dwSize, pszName,
                    double(qwBytes) / dSeconds / 1e6, double(qwRecords) / dSeconds,
                    static_cast<unsigned long long>(qwRecords));
    }
};

void Feed(CTrafficFormatter& formatter, const std::vector<std::uint8_t>& record, CPhase& phase) {
    formatter.FormatRecord(CCaptureRecord::CopyOf(record));
    phase.qwBytes += record.size() - Vantry::RECORD_DATA_OFFSET;
    ++phase.qwRecords;
}

void Measure(std::uint32_t dwSize) {
    const auto record = DataRecord(dwSize);
    constexpr std::uint64_t TARGET_BYTES = 64u << 20;
    CPhase filling, full;
    while (filling.qwBytes < TARGET_BYTES) {
        CMemoryPane read, write;
        CTrafficFormatter formatter;
        formatter.SetPanes(&read, &write);
        const auto start = Clock::now();
        while (read.TextLength() + 2 * 66 < CTrafficFormatter::MAX_PANE_CHARS)
            Feed(formatter, record, filling);
        filling.dSeconds += std::chrono::duration<double>(Clock::now() - start).count();

        if (full.qwBytes < TARGET_BYTES) {
            const auto startFull = Clock::now();
            const std::uint64_t qwGoal = full.qwBytes + TARGET_BYTES / 8;
            while (full.qwBytes < qwGoal)
                Feed(formatter, record, full);
            full.dSeconds += std::chrono::duration<double>(Clock::now() - startFull).count();
        }
    }
    filling.Print("filling", dwSize);
    full.Print("full", dwSize);
}

} // namespace

int main() {
    std::printf("record    phase        throughput       records\n");
    for (const std::uint32_t dwSize : {1u, 16u, 64u, 4096u})
        Measure(dwSize);
}
