// Our own small service manager: the database "ServicesActive" is a
// directory under /var/lib/wirelet/scm, or under WIRELET_SCM_ROOT. Its calls
// mirror those the driver procedures make on the desktop platform they were
// first written for; each failure is an errno value.
#pragma once

#include "CService.h"
#include "ServiceTypes.h"

#include <cstdint>
#include <string>

class CServiceManager {
public:
    static constexpr const char* ROOT_VARIABLE = "WIRELET_SCM_ROOT";
    static constexpr const char* DEFAULT_ROOT = "/var/lib/wirelet/scm";

    // Only the local machine (no name) and the active database exist. Any
    // access beyond reading needs write access to the database, which is
    // root's alone.
    static CServiceManager Open(const char* pszMachine, const char* pszDatabase,
                                std::uint32_t dwAccess, const CServiceTimeouts& timeouts = {});
    // The directory that holds the databases, from the environment; absolute,
    // or empty when a relative one cannot be resolved.
    static std::string GetRoot();

    CServiceManager(CServiceManager&&) noexcept;
    CServiceManager& operator=(CServiceManager&&) noexcept;
    ~CServiceManager() { Close(); }

    bool IsValid() const { return m_bOpen; }
    int GetError() const { return m_nError; }
    void Close() { m_bOpen = false; }

    CService OpenService(const std::string& strName, std::uint32_t dwAccess) const;
    CService CreateService(const CServiceConfig& config, std::uint32_t dwAccess) const;

private:
    explicit CServiceManager(int nError) : m_nError(nError) {}
    CServiceManager(std::string strDatabase, std::uint32_t dwAccess,
                    const CServiceTimeouts& timeouts);

    bool m_bOpen = false;
    int m_nError = 0;
    std::string m_strDatabase;
    std::uint32_t m_dwAccess = 0;
    CServiceTimeouts m_timeouts;
};
