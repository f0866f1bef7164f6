// An open service of our service manager (see CServiceManager). Operations
// check the access the service was opened with, then work on its entry.
#pragma once

#include "CServiceEntry.h"
#include "ServiceTypes.h"

#include <cstdint>
#include <optional>
#include <utility>

class CService {
public:
    CService(CService&&) noexcept;
    CService& operator=(CService&&) noexcept;
    ~CService() { Close(); }

    bool IsValid() const { return m_bOpen; }
    int GetError() const { return m_nError; }
    void Close() { m_bOpen = false; }

    // Spawns the image and returns once it reports ready: 0, or EALREADY
    // when it runs already, EIDRM when it is marked for deletion, or why the
    // image did not come up (then nothing of it is left running).
    int Start();
    // Only SERVICE_CONTROL_STOP: SIGTERM, then a wait for the exit (a daemon
    // that will not exit is killed). ESRCH when it was not running.
    int Control(std::uint32_t dwControl);
    // Removes the entry; a running service is marked and goes when it stops.
    int Delete();

    bool IsRunning() const { return m_entry.ReadRunning().has_value(); }
    std::optional<CServiceConfig> QueryConfig() const { return m_entry.ReadConfig(); }

private:
    friend class CServiceManager;
    explicit CService(int nError) : m_entry("", ""), m_nError(nError) {}
    CService(CServiceEntry entry, std::uint32_t dwAccess, const CServiceTimeouts& timeouts)
        : m_entry(std::move(entry)), m_bOpen(true), m_dwAccess(dwAccess), m_timeouts(timeouts) {}

    int CheckOpen(std::uint32_t dwRight) const;

    CServiceEntry m_entry;
    bool m_bOpen = false;
    int m_nError = 0;
    std::uint32_t m_dwAccess = 0;
    CServiceTimeouts m_timeouts;
};
