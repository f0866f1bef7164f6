#include "CService.h"

#include "CDaemonLauncher.h"

#include <signal.h>

#include <cerrno>
#include <utility>

namespace {

constexpr int KILL_WAIT_MS = 1000;

std::uint32_t MapGenericAccess(std::uint32_t dwAccess) {
    if (dwAccess & Scm::GENERIC_ALL)
        dwAccess |= Scm::SERVICE_ALL_ACCESS;
    if (dwAccess & Scm::GENERIC_EXECUTE)
        dwAccess |= Scm::SERVICE_START | Scm::SERVICE_STOP;
    return dwAccess;
}

} // namespace

CService::CService(CService&& other) noexcept
    : m_entry(std::move(other.m_entry)), m_bOpen(std::exchange(other.m_bOpen, false)),
      m_nError(other.m_nError), m_dwAccess(other.m_dwAccess), m_timeouts(other.m_timeouts) {}

CService& CService::operator=(CService&& other) noexcept {
    if (this != &other) {
        m_entry = std::move(other.m_entry);
        m_bOpen = std::exchange(other.m_bOpen, false);
        m_nError = other.m_nError;
        m_dwAccess = other.m_dwAccess;
        m_timeouts = other.m_timeouts;
    }
    return *this;
}

int CService::CheckOpen(std::uint32_t dwRight) const {
    if (!m_bOpen)
        return EBADF;
    if (!(MapGenericAccess(m_dwAccess) & dwRight))
        return EACCES;
    return m_entry.Exists() ? 0 : ENOENT;
}

int CService::Start() {
    if (const int nError = CheckOpen(Scm::SERVICE_START))
        return nError;
    if (m_entry.IsMarkedForDeletion())
        return EIDRM;
    if (m_entry.ReadRunning())
        return EALREADY;
    const auto config = m_entry.ReadConfig();
    if (!config)
        return EBADMSG;
    const CDaemonStart start =
        CDaemonLauncher(m_timeouts.nReadyMs).Start(config->strImagePath, m_entry.GetLogPath());
    if (start.nError != 0)
        return start.nError;
    if (const int nError = m_entry.WriteRunning(start.identity)) {
        // A daemon nobody could find again would outlive every stop.
        start.identity.Signal(SIGKILL);
        return nError;
    }
    return 0;
}

int CService::Control(std::uint32_t dwControl) {
    if (dwControl != Scm::SERVICE_CONTROL_STOP)
        return EINVAL;
    if (const int nError = CheckOpen(Scm::SERVICE_STOP))
        return nError;
    const auto identity = m_entry.ReadRunning();
    if (!identity)
        return ESRCH;
    identity->Terminate(m_timeouts.nStopMs, KILL_WAIT_MS);
    m_entry.ClearRunning();
    if (m_entry.IsMarkedForDeletion())
        m_entry.Remove();
    return 0;
}

int CService::Delete() {
    if (const int nError = CheckOpen(Scm::DELETE))
        return nError;
    if (m_entry.IsMarkedForDeletion())
        return EIDRM;
    if (m_entry.ReadRunning())
        return m_entry.MarkForDeletion();
    return m_entry.Remove();
}
