#include "ExtcapCapture.h"

#include "CPcapngWriter.h"
#include "CReaderGoneWatch.h"
#include "CRecordQueue.h"
#include "CaptureSession.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

namespace {

// How long the records still queued at the end may take to reach a reader
// that no longer reads, before the extcap ends without them.
constexpr auto FLUSH_LIMIT = std::chrono::seconds(2);

const char* const WHO = "wirelet-extcap";

// Wakes the fifo's writer when records wait or the capture ended.
class CWakeUp {
public:
    void Signal(bool bFinished = false) {
        {
            std::lock_guard lock(m_mutex);
            m_bPending = true;
            m_bFinished = m_bFinished || bFinished;
        }
        m_changed.notify_all();
    }
    // False once finished and nothing is pending.
    bool Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_bPending || m_bFinished; });
        const bool bMore = m_bPending;
        m_bPending = false;
        return bMore || !m_bFinished;
    }
    void MarkDone() {
        {
            std::lock_guard lock(m_mutex);
            m_bDone = true;
        }
        m_changed.notify_all();
    }
    bool WaitDone(std::chrono::seconds limit) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_bDone; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bPending = false;
    bool m_bFinished = false;
    bool m_bDone = false;
};

} // namespace

int RunExtcapCapture(const std::string& strFifo, const std::string& strPort,
                     std::size_t nQueueLimit) {
    signal(SIGPIPE, SIG_IGN);
    int hFifo;
    do
        hFifo = open(strFifo.c_str(), O_WRONLY | O_CLOEXEC);
    while (hFifo < 0 && errno == EINTR);
    if (hFifo < 0) {
        std::cerr << WHO << ": " << strFifo << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    const CStopEvent stop;
    CRecordQueue queue(nQueueLimit);
    CWakeUp wakeUp;
    CPcapngWriter writer(CPcapngWriter::FdSink(hFifo));
    std::uint32_t nInterface = 0;
    std::atomic<int> nWriteError = 0;
    // The reader gone, or a fifo that cannot be written: the capture ends and
    // whatever still comes is dropped.
    const auto failed = [&](int nError) {
        nWriteError = nError;
        stop.Set();
        queue.Stop();
    };
    std::thread fifoWriter([&] {
        while (wakeUp.Wait()) {
            CCaptureRecord record;
            while (queue.Pop(record)) {
                if (nWriteError == 0 && !writer.WriteRecord(nInterface, record.View()))
                    failed(errno);
            }
        }
        wakeUp.MarkDone();
    });
    int nStatus;
    {
        CReaderGoneWatch watch(hFifo, stop);
        // The header goes out before any record is queued, so the fifo's
        // writer never uses the writer at the same time.
        const auto onAttached = [&](const std::string& strPath) {
            if (!writer.WriteSection(std::string(WHO) + " " + WIRELET_VERSION) ||
                !writer.AddInterface(strPath, nInterface))
                failed(errno);
            return true;
        };
        const auto onRecord = [&](const CCaptureRecord& record) {
            bool bWake = false;
            if (queue.Push(CCaptureRecord::CopyOf(record.View().Bytes()), bWake) && bWake)
                wakeUp.Signal();
            return true;
        };
        nStatus = RunCaptureSession(WHO, strPort, stop, onAttached, onRecord);
    }
    wakeUp.Signal(true);
    if (!wakeUp.WaitDone(FLUSH_LIMIT)) {
        // The writer is stuck on a fifo nobody reads; the driver already let
        // the port go, so ending here loses nothing that could still arrive.
        std::_Exit(nStatus);
    }
    fifoWriter.join();
    close(hFifo);
    if (nWriteError != 0 && nWriteError != EPIPE && nStatus == 0) {
        std::cerr << WHO << ": " << strFifo << ": " << std::strerror(nWriteError.load()) << "\n";
        nStatus = 1;
    }
    return nStatus;
}
