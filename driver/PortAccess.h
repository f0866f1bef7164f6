// Whether a client may attach to a port: the path, resolved with the
// client's own credentials, must name a serial port that the client could
// open for reading and writing.
#pragma once

#include "CPeer.h"
#include "CScopedFd.h"
#include "IEventSource.h"

#include <sys/stat.h>

#include <string>

namespace PortAccess {

// 0, the port and its device node (opened O_PATH, which never opens the
// device itself); or the error the client would have met: ENOENT, EACCES,
// ENOTDIR and the like while resolving the path, ELOOP for a /proc magic
// link, ENOTTY when it is not a serial port, EACCES when the client may not
// read and write it. The path is absolute.
// Takes the client's credentials, and drops every capability for a client
// other than root, on the calling thread for good: call it on a thread of
// its own that ends afterwards.
int CheckAsPeer(const std::string& strPath, const CPeer& peer, CPortId& port, CScopedFd& node);
// The same on a thread of its own, waited for, for a tool with nothing else
// to do (the driver never waits: CPortChecks); EINVAL for a relative path.
int Check(const std::string& strPath, const CPeer& peer, CPortId& port, CScopedFd& node);

// Serial ports only: a Unix98 pty slave, or a tty-class device with a real
// device behind it. Terminals that reach other people's sessions (ptmx, tty,
// console, virtual consoles) are not ports. Decided from sysfs: the device
// is never opened, since opening a serial port raises its modem lines.
bool IsSerialPort(const struct stat& status);

} // namespace PortAccess
