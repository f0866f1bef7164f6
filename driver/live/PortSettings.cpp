#include "PortSettings.h"

#include "CScopedFd.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <set>

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

void PublishCurrentSettings(CPublisher& publisher, pid_t nPid, const std::map<int, CPortId>& fds) {
    std::set<CPortId> done;
    for (const auto& [nFd, port] : fds) {
        if (!done.insert(port).second)
            continue;
        if (const auto settings = ReadFromProcess(nPid, nFd))
            publisher.PublishSettings(port, nPid, *settings);
    }
}

} // namespace PortSettings
