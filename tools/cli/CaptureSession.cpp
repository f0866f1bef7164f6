#include "CaptureSession.h"

#include "CRecordReader.h"
#include "CVantryDevice.h"

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>

namespace {

// Read by the signal handler: lock-free, so that it may.
std::atomic<const CStopEvent*> g_pStop = nullptr;
static_assert(std::atomic<const CStopEvent*>::is_always_lock_free);

constexpr auto DRAIN_IDLE = std::chrono::milliseconds(100);
constexpr auto DRAIN_LIMIT = std::chrono::seconds(2);

extern "C" void OnStopSignal(int) {
    if (const CStopEvent* pStop = g_pStop.load())
        pStop->Set();
}

std::string OpenError(const std::string& strDevice, int nError) {
    switch (nError) {
    case ENOENT:
    case ECONNREFUSED:
        return "no capture driver is running (nothing listens on " + strDevice + ")";
    case EACCES:
    case EPERM:
        return "no rights to use the driver device " + strDevice;
    default:
        return "cannot open the driver device " + strDevice + ": " + std::strerror(nError);
    }
}

std::string AttachError(const std::string& strPort, int nError) {
    const std::string strPath = CVantryDevice::PortDevicePath(strPort);
    switch (nError) {
    case EACCES:
    case EPERM:
        return "no rights to " + strPath + " (monitoring a port needs read and write access to it)";
    case ENOTTY:
        return strPath + " is not a terminal device";
    case ENOENT:
    case ENOTDIR:
        return strPath + " does not exist";
    case EINVAL:
    case ENAMETOOLONG:
        return "'" + strPort + "' is not a usable port name";
    case EMFILE:
        return "the driver holds too many attachments for this user";
    default:
        return "cannot attach to " + strPath + ": " + std::strerror(nError);
    }
}

} // namespace

int RunCaptureSession(const std::string& strWho, const std::string& strPort, const CStopEvent& stop,
                      const std::function<bool(const std::string&)>& onAttached,
                      const std::function<bool(const CCaptureRecord&)>& onRecord) {
    const auto fail = [&](const std::string& strMessage) {
        std::cerr << strWho << ": " << strMessage << "\n";
        return 1;
    };
    CVantryDevice device;
    const std::string strDevice = CVantryDevice::DefaultPath();
    if (const int nError = device.Open(strDevice))
        return fail(OpenError(strDevice, nError));
    CAttachHandle hAttach;
    if (const int nError = device.Attach(strPort, hAttach))
        return fail(AttachError(strPort, nError));

    g_pStop = &stop;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // Every record until the stop event is set; 0 then, else the exit status.
    std::atomic<int> nRecords{0};
    CRecordReader reader(device, hAttach);
    const auto readUntil = [&](const CStopEvent& until) {
        for (;;) {
            CCaptureRecord record;
            const int nError = reader.Next(until, record);
            if (nError == ECANCELED)
                return 0;
            if (nError != 0)
                return fail(CVantryDevice::IsDriverGone(nError)
                                ? std::string("capture stopped: the capture driver went away")
                                : std::string("lost the port: ") + std::strerror(nError));
            if (!onRecord(record))
                return 1;
            ++nRecords;
        }
    };
    int nStatus = onAttached(CVantryDevice::PortDevicePath(strPort)) ? 0 : 1;
    if (nStatus == 0)
        nStatus = readUntil(stop);
    if (nStatus == 0) {
        // What the driver still holds for us is read out before the detach
        // discards it: until no record has come for a while, and for a
        // bounded time, so that a port in full flow still lets us end.
        CStopEvent drained;
        std::thread watchdog([&] {
            const auto deadline = std::chrono::steady_clock::now() + DRAIN_LIMIT;
            int nSeen = -1;
            while (nRecords != nSeen && std::chrono::steady_clock::now() < deadline) {
                nSeen = nRecords;
                std::this_thread::sleep_for(DRAIN_IDLE);
            }
            drained.Set();
        });
        nStatus = readUntil(drained);
        drained.Set();
        watchdog.join();
    }
    if (nStatus == 0 && device.Detach(hAttach) != 0)
        nStatus = fail("the driver did not detach cleanly");
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    g_pStop = nullptr;
    return nStatus;
}
