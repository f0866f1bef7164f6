#include "CaptureSession.h"

#include "CVantryDevice.h"

#include <signal.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace {

const CStopEvent* g_pStop = nullptr;

extern "C" void OnStopSignal(int) {
    if (g_pStop != nullptr)
        g_pStop->Set();
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

int RunCaptureSession(const std::string& strCommand, const std::string& strPort,
                      const std::function<bool(const std::string&)>& onAttached,
                      const std::function<bool(const CCaptureRecord&)>& onRecord) {
    const auto fail = [&](const std::string& strMessage) {
        std::cerr << "wirelet-cli " << strCommand << ": " << strMessage << "\n";
        return 1;
    };
    CVantryDevice device;
    const std::string strDevice = CVantryDevice::DefaultPath();
    if (const int nError = device.Open(strDevice))
        return fail(OpenError(strDevice, nError));
    CAttachHandle hAttach;
    if (const int nError = device.Attach(strPort, hAttach))
        return fail(AttachError(strPort, nError));

    CStopEvent stop;
    g_pStop = &stop;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    int nStatus = onAttached(CVantryDevice::PortDevicePath(strPort)) ? 0 : 1;
    while (nStatus == 0) {
        CCaptureRecord record;
        const int nError = device.ReadRecord(hAttach, stop, record);
        if (nError == ECANCELED)
            break;
        if (nError != 0) {
            nStatus =
                fail(nError == EPIPE ? std::string("the capture driver went away")
                                     : std::string("lost the port: ") + std::strerror(nError));
            break;
        }
        if (!onRecord(record)) {
            nStatus = 1;
            break;
        }
    }
    if (nStatus == 0 && device.Detach(hAttach) != 0)
        nStatus = fail("the driver did not detach cleanly");
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    g_pStop = nullptr;
    return nStatus;
}
