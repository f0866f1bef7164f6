// Reads the settings of a port that another process holds open, through a
// duplicate of that process's open file description (pidfd_getfd): the port
// itself is never opened, so no open or close is seen on it. A holder found
// at the attach has its current settings published this way, since the
// calls that set them came before anyone watched.
#pragma once

#include "../IEventSource.h"
#include "CPublisher.h"
#include "TermiosDecoder.h"

#include <sys/types.h>

#include <map>
#include <optional>

namespace PortSettings {

std::optional<CLineSettings> ReadFromProcess(pid_t nPid, int nFd);
// The settings of each port among `fds`, once per port.
void PublishCurrentSettings(CPublisher& publisher, pid_t nPid, const std::map<int, CPortId>& fds);

} // namespace PortSettings
