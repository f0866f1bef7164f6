// Whether a client may attach to a port: the path must name a terminal
// character device that the client could open for reading and writing.
#pragma once

#include "CPeer.h"

#include <sys/types.h>

#include <string>

namespace PortAccess {

// 0 and the device's number, or ENOENT (and the like) when the path names
// nothing, ENOTTY when it is not a terminal character device, EACCES when
// the peer may not read and write it, EINVAL for a relative path.
int Check(const std::string& strPath, const CPeer& peer, dev_t& port);

// Decided by the device number alone: the device is never opened, since
// opening a serial port raises its modem lines and disturbs what is attached.
bool IsTerminalDevice(dev_t device);

} // namespace PortAccess
