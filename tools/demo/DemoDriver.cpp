#include "DemoDriver.h"

#include "CVantryDevice.h"
#include "RootOnlyPath.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

namespace {

constexpr int READY_TIMEOUT_MS = 10000;
constexpr int STOP_GRACE_MS = 5000;

bool WaitReady(int hReadyFd) {
    pollfd ready{hReadyFd, POLLIN, 0};
    char szLine[6] = {};
    return poll(&ready, 1, READY_TIMEOUT_MS) == 1 &&
           read(hReadyFd, szLine, sizeof szLine) == ssize_t(sizeof szLine) &&
           std::string(szLine, sizeof szLine) == "READY\n";
}

} // namespace

bool DemoDriver::Ensure(const std::string& strImage, const std::string& strLogPath,
                        const CSignalFd& signals, CChildProcess& driver) {
    const std::string strDevice = CVantryDevice::DefaultPath();
    if (CVantryDevice().Open(strDevice) == 0)
        return true;
    if (geteuid() != 0) {
        std::cerr << "wirelet-demo: no capture driver serves " << strDevice
                  << ", and only root can start one\n";
        return false;
    }
    // Root runs no image that another user could have put there, and runs
    // the very file it checked: a bare name is not looked up in PATH.
    const std::string strPath = std::filesystem::absolute(strImage);
    if (const int nError = CheckRootOnlyPath(strPath)) {
        std::cerr << "wirelet-demo: refusing to run " << strImage
                  << " as root: " << std::strerror(nError) << "\n";
        return false;
    }
    int hPipe[2];
    if (pipe2(hPipe, O_CLOEXEC) != 0)
        return false;
    CScopedFd hRead(hPipe[0]);
    CScopedFd hWrite(hPipe[1]);
    CChildOptions options;
    options.environment = {{"VANTRY_READY_FD", std::to_string(hWrite.Get())}};
    options.hKeepFd = hWrite.Get();
    options.strErrorFile = strLogPath;
    options.bOwnGroup = true;
    if (!driver.Start({strPath}, signals, options))
        return false;
    hWrite.Reset();
    if (WaitReady(hRead.Get()))
        return true;
    driver.Stop(STOP_GRACE_MS);
    std::ifstream log(strLogPath);
    const std::string strLog{std::istreambuf_iterator<char>(log), {}};
    std::cerr << "wirelet-demo: the capture driver " << strImage << " did not start\n" << strLog;
    return false;
}
