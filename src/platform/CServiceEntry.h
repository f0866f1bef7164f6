// One service's entry in the database directory: a directory named after
// the service holding its configuration, the identity of its running daemon,
// the daemon's log and, once deletion was asked for while it ran, a mark.
// All state lives on disk, so it survives the program that started the
// daemon and is seen by the next one as it really is.
#pragma once

#include "CProcessIdentity.h"
#include "ServiceTypes.h"

#include <optional>
#include <string>

class CServiceEntry {
public:
    CServiceEntry(const std::string& strDatabase, const std::string& strName);

    // Names become directory names: no separators, no hidden or dot names.
    static bool IsValidName(const std::string& strName);

    bool Exists() const;
    // 0, EEXIST when the service is there already, or another errno value.
    int Create(const CServiceConfig& config) const;
    std::optional<CServiceConfig> ReadConfig() const;
    // The daemon while it runs; a record of one that has gone is dropped.
    std::optional<CProcessIdentity> ReadRunning() const;
    int WriteRunning(const CProcessIdentity& identity) const;
    void ClearRunning() const;
    bool IsMarkedForDeletion() const;
    int MarkForDeletion() const;
    // The entry disappears at once (renamed away) and is then cleared out.
    int Remove() const;
    std::string GetLogPath() const { return m_strDirectory + "/log"; }

private:
    std::string m_strDatabase;
    std::string m_strName;
    std::string m_strDirectory;
};
