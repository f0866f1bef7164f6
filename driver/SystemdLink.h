// The two handshakes of a systemd service, done by hand so that the driver
// needs no library: the socket unit's listening socket handed over at start
// (LISTEN_FDS), and the readiness report (NOTIFY_SOCKET).
#pragma once

#include <string>

namespace SystemdLink {

// The listening socket that systemd passed us, or -1 when it passed none.
// -2 when it passed something that is not one socket; strError says why.
// The variables are cleared so that nothing we start inherits them.
int TakeListeningSocket(std::string& strError);

// Reports READY=1 when systemd asked for a report; true when none was asked.
bool NotifyReady(std::string& strError);

} // namespace SystemdLink
