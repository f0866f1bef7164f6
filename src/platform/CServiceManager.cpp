#include "CServiceManager.h"

#include "CServiceEntry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <utility>

namespace {

// The database says which images root runs, so it must be writable by its
// owner alone, and that owner must be root or the caller.
int CheckDatabase(const std::string& strDatabase, bool bForWriting) {
    struct stat st {};
    if (stat(strDatabase.c_str(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if ((st.st_uid != 0 && st.st_uid != geteuid()) || (st.st_mode & (S_IWGRP | S_IWOTH)))
        return EPERM;
    const int nMode = bForWriting ? R_OK | W_OK | X_OK : R_OK | X_OK;
    return faccessat(AT_FDCWD, strDatabase.c_str(), nMode, AT_EACCESS) == 0 ? 0 : errno;
}

// The first all-access open sets the database up; only root can. Not with
// create_directories: its 0777 would let a loose umask make the database
// writable by a group, which CheckDatabase then refuses forever.
void CreateDirectories(const std::string& strPath) {
    for (std::size_t nSlash = strPath.find('/', 1);; nSlash = strPath.find('/', nSlash + 1)) {
        mkdir(strPath.substr(0, nSlash).c_str(), 0755);
        if (nSlash == std::string::npos)
            return;
    }
}

bool NeedsWriting(std::uint32_t dwAccess, std::uint32_t dwReadOnly) {
    return (dwAccess & ~dwReadOnly) != 0;
}

} // namespace

std::string CServiceManager::GetRoot() {
    const char* pszRoot = std::getenv(ROOT_VARIABLE);
    std::string strRoot = pszRoot && *pszRoot ? pszRoot : DEFAULT_ROOT;
    // Open handles keep their database when the current directory changes.
    if (strRoot[0] != '/') {
        std::error_code error;
        strRoot = std::filesystem::absolute(strRoot, error).lexically_normal();
    }
    while (strRoot.size() > 1 && strRoot.back() == '/')
        strRoot.pop_back();
    return strRoot;
}

CServiceManager CServiceManager::Open(const char* pszMachine, const char* pszDatabase,
                                      std::uint32_t dwAccess, const CServiceTimeouts& timeouts) {
    if (pszMachine && *pszMachine)
        return CServiceManager(EINVAL);
    if (pszDatabase && std::string(pszDatabase) != Scm::SERVICES_ACTIVE_DATABASE)
        return CServiceManager(ENOENT);
    const std::string strRoot = GetRoot();
    if (strRoot.empty())
        return CServiceManager(ENOENT); // relative to a directory that is gone
    const std::string strDatabase =
        (strRoot == "/" ? "" : strRoot) + "/" + Scm::SERVICES_ACTIVE_DATABASE;
    const bool bForWriting = NeedsWriting(dwAccess, Scm::SC_MANAGER_READ_ONLY);
    if (bForWriting)
        CreateDirectories(strDatabase);
    if (const int nError = CheckDatabase(strDatabase, bForWriting))
        return CServiceManager(nError);
    return CServiceManager(strDatabase, dwAccess, timeouts);
}

CServiceManager::CServiceManager(std::string strDatabase, std::uint32_t dwAccess,
                                 const CServiceTimeouts& timeouts)
    : m_bOpen(true), m_strDatabase(std::move(strDatabase)), m_dwAccess(dwAccess),
      m_timeouts(timeouts) {}

CServiceManager::CServiceManager(CServiceManager&& other) noexcept
    : m_bOpen(std::exchange(other.m_bOpen, false)), m_nError(other.m_nError),
      m_strDatabase(std::move(other.m_strDatabase)), m_dwAccess(other.m_dwAccess),
      m_timeouts(other.m_timeouts) {}

CServiceManager& CServiceManager::operator=(CServiceManager&& other) noexcept {
    if (this != &other) {
        m_bOpen = std::exchange(other.m_bOpen, false);
        m_nError = other.m_nError;
        m_strDatabase = std::move(other.m_strDatabase);
        m_dwAccess = other.m_dwAccess;
        m_timeouts = other.m_timeouts;
    }
    return *this;
}

CService CServiceManager::OpenService(const std::string& strName, std::uint32_t dwAccess) const {
    if (!m_bOpen)
        return CService(EBADF);
    if (!(m_dwAccess & Scm::SC_MANAGER_CONNECT))
        return CService(EACCES);
    if (!CServiceEntry::IsValidName(strName))
        return CService(EINVAL);
    // Starting, stopping and deleting are root's, as creating is.
    if (NeedsWriting(dwAccess, Scm::SERVICE_READ_ONLY))
        if (const int nError = CheckDatabase(m_strDatabase, true))
            return CService(nError);
    CServiceEntry entry(m_strDatabase, strName);
    if (!entry.Exists())
        return CService(ENOENT);
    // A service marked for deletion that has stopped by itself is gone.
    if (entry.IsMarkedForDeletion() && !entry.ReadRunning()) {
        entry.Remove();
        return CService(ENOENT);
    }
    return CService(std::move(entry), dwAccess, m_timeouts);
}

CService CServiceManager::CreateService(const CServiceConfig& config,
                                        std::uint32_t dwAccess) const {
    if (!m_bOpen)
        return CService(EBADF);
    if (!(m_dwAccess & Scm::SC_MANAGER_CREATE_SERVICE))
        return CService(EACCES);
    if (!CServiceEntry::IsValidName(config.strName))
        return CService(EINVAL);
    CServiceEntry entry(m_strDatabase, config.strName);
    if (const int nError = entry.Create(config))
        return CService(nError);
    return CService(std::move(entry), dwAccess, m_timeouts);
}
