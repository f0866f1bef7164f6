// A capture driver for a demo run without the program, which would otherwise
// start one through its service manager: the driver that already serves the
// device, or else the given image, started for the run as the demo's child.
#pragma once

#include "CChildProcess.h"

#include <string>

namespace DemoDriver {

// True when a driver serves the device now. Failures are explained on
// stderr, with the started driver's own log.
bool Ensure(const std::string& strImage, const std::string& strLogPath, const CSignalFd& signals,
            CChildProcess& driver);

} // namespace DemoDriver
