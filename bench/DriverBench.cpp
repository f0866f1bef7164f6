// How fast one client drains an attachment, a wait and a fetch per record
// and then with the batched fetch (the program's reader), for several
// payload sizes. A real vantry.sys replays a record file at once into a
// queue large enough to hold it; the clock runs from the first record's
// arrival to the last one fetched, so it measures the device round trips,
// not the file. Then how closely a paced replay keeps the recorded gaps
// between records.
//
// VANTRY_SYS=PATH measures another driver (an older one drains a record at
// a time either way).
#include "CDriverProcess.h"
#include "CPty.h"
#include "CRecordReader.h"
#include "CVantryDevice.h"
#include "Records.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// Starts vantry.sys with these arguments, attaches, and returns how long the
// records take to read once the first has come, in seconds; -1 on failure.
double TimeRecords(CDriverProcess& driver, const std::vector<std::string>& args,
                   std::size_t nRecords, bool bBatched) {
    if (const char* pszDriver = std::getenv("VANTRY_SYS"))
        driver.UseBinary(pszDriver);
    if (!driver.Start(args)) {
        std::fprintf(stderr, "vantry.sys did not start: %s\n", driver.Stderr().c_str());
        return -1;
    }
    CPty pty;
    CVantryDevice device;
    CStopEvent stop;
    CAttachHandle hAttach;
    CCaptureRecord fetched;
    std::uint32_t dwSize = 0;
    if (device.Open(driver.DevicePath()) != 0 || device.Attach(pty.Slave(), hAttach) != 0 ||
        device.Wait(hAttach, stop, dwSize) != 0) {
        std::fprintf(stderr, "cannot attach\n");
        return -1;
    }
    CRecordReader reader(device, hAttach);
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < nRecords; ++i) {
        if ((bBatched ? reader.Next(stop, fetched) : device.ReadRecord(hAttach, stop, fetched)) !=
            0) {
            std::fprintf(stderr, "read failed\n");
            return -1;
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Measure(std::size_t nPayload, std::size_t nRecords, bool bBatched) {
    CDriverProcess driver;
    const Records::Bytes record = Records::Read(Records::Bytes(nPayload, 0x5A));
    const std::vector<Records::Bytes> records(nRecords, record);
    const double dSeconds =
        TimeRecords(driver,
                    {"--replay", driver.WriteFile("replay.rec", Records::File(records)), "--fast",
                     "--queue-limit", std::to_string(nRecords * record.size() * 2)},
                    nRecords, bBatched);
    if (dSeconds < 0)
        return;
    const double dRecords = double(nRecords);
    std::printf("%-13s %6zu B payload  %10.0f records/s  %8.1f MB/s payload  %8.1f MB/s "
                "records\n",
                bBatched ? "batched" : "wait + fetch", nPayload, dRecords / dSeconds,
                dRecords * double(nPayload) / dSeconds / 1e6,
                dRecords * double(record.size()) / dSeconds / 1e6);
}

// Records 40 ms apart, replayed with their pacing, against the recorded span.
void MeasurePacing(int nGaps) {
    constexpr std::uint64_t T0 = 1700000000000000000ull, GAP = 40000000;
    std::vector<Records::Bytes> records;
    for (int i = 0; i <= nGaps; ++i)
        records.push_back(Records::Stamped(Records::Read("p"), T0 + std::uint64_t(i) * GAP));
    CDriverProcess driver;
    const double dSeconds =
        TimeRecords(driver, {"--replay", driver.WriteFile("paced.rec", Records::File(records))},
                    records.size(), true);
    if (dSeconds >= 0)
        std::printf("paced replay: %d gaps of 40 ms took %.1f ms (recorded %d ms)\n", nGaps,
                    dSeconds * 1000, nGaps * 40);
}

} // namespace

int main() {
    std::printf("one client\n");
    for (const bool bBatched : {false, true}) {
        Measure(1, 200000, bBatched);
        Measure(16, 200000, bBatched);
        Measure(1024, 50000, bBatched);
        Measure(65536, 2000, bBatched);
    }
    MeasurePacing(10);
}
