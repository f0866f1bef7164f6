// Installing, starting, stopping and removing the driver service "Vantry",
// and opening its device into g_hDevice. Each failure is reported through the
// message box given; none is returned.
#pragma once

#include "IMessageBox.h"

#include <string>

enum class EStartup { Continue, Stop };

// The last step of start-up: the device, or else the service started (and
// installed first when it is missing, with the image in the program's
// directory; empty when that is unknown) and the device again.
EStartup EnsureDriver(IMessageBox& messages, const std::string& strProgramDirectory);
// The first step of the exit: the device closed and the service stopped; it
// stays installed for the next start.
void StopDriver();
// The Remove Driver command: the device closed, the service stopped and
// deleted.
void RemoveDriver(IMessageBox& messages);

// The image the service is installed with: "vantry.sys" in the directory.
std::string DriverPathIn(const std::string& strDirectory);
