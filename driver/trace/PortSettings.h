// Reads the settings of a port that another process holds open, through a
// duplicate of that process's open file description (pidfd_getfd): the port
// itself is never opened, so no open or close is seen on it.
#pragma once

#include "TermiosDecoder.h"

#include <sys/types.h>

#include <optional>

namespace PortSettings {

std::optional<CLineSettings> ReadFromProcess(pid_t nPid, int nFd);

} // namespace PortSettings
