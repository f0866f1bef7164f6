// Runs the live event source on its own, outside the test process: the
// applications under test are the test's children, and a tracer inside the
// test would reap them. Records go to stdout in the record-file format as
// they are published; stderr says "ready" once every port is watched and
// "unwatched" after the line "unwatch" on stdin. End of stdin stops it.
#include "CTraceSource.h"
#include "VantryProtocol.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

namespace {

class CFileSink : public IEventSink {
public:
    void Publish(dev_t, const CPortEvent& event) override {
        std::vector<std::uint8_t> record(4 + Vantry::RECORD_DATA_OFFSET + event.payload.size(), 0);
        std::uint8_t* p = record.data() + 4;
        Vantry::PutU32(record.data(), std::uint32_t(record.size() - 4));
        Vantry::PutU64(p + Vantry::RECORD_TIME_OFFSET, event.qwTimeNs);
        Vantry::PutU32(p + Vantry::RECORD_SEQUENCE_OFFSET, m_dwSequence++);
        Vantry::PutU32(p + Vantry::RECORD_PID_OFFSET, event.dwProcessId);
        Vantry::PutU32(p + Vantry::RECORD_DATA_LENGTH_OFFSET, std::uint32_t(event.payload.size()));
        p[Vantry::RECORD_EVENT_TYPE_OFFSET] = std::uint8_t(event.nType);
        std::copy(event.payload.begin(), event.payload.end(), p + Vantry::RECORD_DATA_OFFSET);
        std::lock_guard lock(m_mutex);
        for (std::size_t nDone = 0; nDone < record.size();) {
            const ssize_t n = write(1, record.data() + nDone, record.size() - nDone);
            if (n <= 0)
                return;
            nDone += std::size_t(n);
        }
    }

private:
    std::mutex m_mutex;
    std::uint32_t m_dwSequence = 0;
};

} // namespace

int main(int argc, char** argv) {
    CFileSink sink;
    std::vector<dev_t> ports;
    {
        CTraceSource source(sink);
        for (int i = 1; i < argc; ++i) {
            struct stat info;
            if (stat(argv[i], &info) != 0) {
                std::perror(argv[i]);
                return 2;
            }
            if (const int nError = source.WatchPort(info.st_rdev, argv[i])) {
                std::cerr << argv[i] << ": watch failed: " << nError << std::endl;
                return 2;
            }
            ports.push_back(info.st_rdev);
        }
        std::cerr << "ready" << std::endl;
        std::string strLine;
        while (std::getline(std::cin, strLine)) {
            if (strLine == "unwatch") {
                for (const dev_t port : ports)
                    source.UnwatchPort(port);
                std::cerr << "unwatched" << std::endl;
            }
        }
    }
    return 0;
}
