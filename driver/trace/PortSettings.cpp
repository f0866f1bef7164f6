#include "PortSettings.h"

#include "CUniqueFd.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace PortSettings {

std::optional<CLineSettings> ReadFromProcess(pid_t nPid, int nFd) {
    const CUniqueFd pidFd(int(syscall(SYS_pidfd_open, nPid, 0)));
    if (!pidFd.IsValid())
        return std::nullopt;
    const CUniqueFd portFd(int(syscall(SYS_pidfd_getfd, pidFd.Get(), nFd, 0)));
    if (!portFd.IsValid())
        return std::nullopt;
    return TermiosDecoder::Query(portFd.Get());
}

} // namespace PortSettings
