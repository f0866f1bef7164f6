// Runs the live event source on its own, outside the test process: the
// applications under test are the test's children, and a tracer inside the
// test would reap them. Records go to stdout in the record-file format as
// they are published; stderr says "ready" once every port is watched and
// "unwatched" once the line "unwatch" on stdin is handed to the tracer
// (which lets go of each tracee at its next stop). End of stdin stops it.
#include "CTraceSource.h"
#include "PortAccess.h"
#include "Records.h"

#include <unistd.h>

#include <iostream>
#include <mutex>
#include <string>
#include <vector>

namespace {

class CFileSink : public IEventSink {
public:
    void Publish(const CPortId&, const CPortEvent& event) override {
        std::lock_guard lock(m_mutex);
        const Records::Bytes file = Records::File({Records::Stamped(
            Records::Data(std::int8_t(event.nType), {event.payload.begin(), event.payload.end()}),
            event.qwTimeNs, event.dwProcessId, m_dwSequence++)});
        for (std::size_t nDone = 0; nDone < file.size();) {
            const ssize_t n = write(1, file.data() + nDone, file.size() - nDone);
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
    CTraceSource::BlockChildSignal();
    CFileSink sink;
    {
        CTraceSource source(sink);
        for (int i = 1; i < argc; ++i) {
            CPortId port;
            CScopedFd node;
            int nError = PortAccess::Check(argv[i], CPeer{}, port, node);
            if (nError == 0)
                nError = source.Watch(port, node.Get(), 0, std::uint32_t(i));
            if (nError != 0) {
                std::cerr << argv[i] << ": watch failed: " << nError << std::endl;
                return 2;
            }
        }
        std::cerr << "ready" << std::endl;
        std::string strLine;
        while (std::getline(std::cin, strLine)) {
            if (strLine == "unwatch") {
                for (int i = 1; i < argc; ++i)
                    source.UnwatchPort(std::uint32_t(i));
                std::cerr << "unwatched" << std::endl;
            }
        }
    }
    return 0;
}
