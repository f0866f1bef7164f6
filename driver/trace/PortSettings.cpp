#include "PortSettings.h"

#include "CScopedFd.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace PortSettings {

std::optional<CLineSettings> ReadFromProcess(pid_t nPid, int nFd) {
    const CScopedFd pidFd(int(syscall(SYS_pidfd_open, nPid, 0)));
    if (!pidFd.IsValid())
        return std::nullopt;
    const CScopedFd portFd(int(syscall(SYS_pidfd_getfd, pidFd.Get(), nFd, 0)));
    if (!portFd.IsValid())
        return std::nullopt;
    return TermiosDecoder::Query(portFd.Get());
}

} // namespace PortSettings
