#include "CServiceEntry.h"

#include "CScopedFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

std::optional<std::string> ReadFile(const std::string& strPath) {
    CScopedFd fd(open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.IsValid())
        return std::nullopt;
    std::string strText;
    char buffer[4096];
    for (ssize_t n; (n = read(fd.Get(), buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        strText.append(buffer, std::size_t(n));
    }
    return strText;
}

// Readers never see half a file: the text goes to a temporary file that is
// renamed over the old one.
int WriteFileAtomically(const std::string& strPath, const std::string& strText) {
    const std::string strTemporary = strPath + ".new";
    CScopedFd fd(
        open(strTemporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.IsValid())
        return errno;
    for (std::size_t nDone = 0; nDone < strText.size();) {
        const ssize_t n = write(fd.Get(), strText.data() + nDone, strText.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        nDone += std::size_t(n);
    }
    fd.Reset();
    return rename(strTemporary.c_str(), strPath.c_str()) == 0 ? 0 : errno;
}

bool ParseNumber(const std::string& strText, std::uint32_t& dwValue) {
    const auto result = std::from_chars(strText.data(), strText.data() + strText.size(), dwValue);
    return result.ec == std::errc() && result.ptr == strText.data() + strText.size();
}

bool IsSingleLine(const std::string& strText) {
    return strText.find_first_of(std::string("\n\0", 2)) == std::string::npos;
}

} // namespace

CServiceEntry::CServiceEntry(const std::string& strDatabase, const std::string& strName)
    : m_strDatabase(strDatabase), m_strName(strName), m_strDirectory(strDatabase + "/" + strName) {}

bool CServiceEntry::IsValidName(const std::string& strName) {
    return !strName.empty() && strName.size() <= 256 && strName[0] != '.' &&
           strName.find_first_of(std::string("/\n\0", 3)) == std::string::npos;
}

bool CServiceEntry::Exists() const {
    struct stat st {};
    return lstat((m_strDirectory + "/config").c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int CServiceEntry::Create(const CServiceConfig& config) const {
    if (!IsSingleLine(config.strDisplayName) || !IsSingleLine(config.strImagePath) ||
        config.strImagePath.empty() || config.strImagePath[0] != '/')
        return EINVAL;
    // mkdir is the one atomic step that decides which of two creators wins;
    // a directory without a configuration is what a creator that died left.
    if (mkdir(m_strDirectory.c_str(), 0700) != 0) {
        const int nError = errno;
        if (nError != EEXIST)
            return nError;
        if (Exists())
            return EEXIST;
    }
    std::ostringstream text;
    text << "DisplayName=" << config.strDisplayName << "\n"
         << "Type=" << config.dwServiceType << "\n"
         << "Start=" << config.dwStartType << "\n"
         << "ErrorControl=" << config.dwErrorControl << "\n"
         << "ImagePath=" << config.strImagePath << "\n";
    return WriteFileAtomically(m_strDirectory + "/config", text.str());
}

std::optional<CServiceConfig> CServiceEntry::ReadConfig() const {
    const auto strText = ReadFile(m_strDirectory + "/config");
    if (!strText)
        return std::nullopt;
    std::map<std::string, std::string> values;
    std::istringstream lines(*strText);
    for (std::string strLine; std::getline(lines, strLine);) {
        const auto nEquals = strLine.find('=');
        if (nEquals != std::string::npos)
            values[strLine.substr(0, nEquals)] = strLine.substr(nEquals + 1);
    }
    CServiceConfig config;
    config.strName = m_strName;
    config.strDisplayName = values["DisplayName"];
    config.strImagePath = values["ImagePath"];
    if (!ParseNumber(values["Type"], config.dwServiceType) ||
        !ParseNumber(values["Start"], config.dwStartType) ||
        !ParseNumber(values["ErrorControl"], config.dwErrorControl) || config.strImagePath.empty())
        return std::nullopt;
    return config;
}

std::optional<CProcessIdentity> CServiceEntry::ReadRunning() const {
    const auto strText = ReadFile(m_strDirectory + "/pid");
    if (!strText)
        return std::nullopt;
    const auto identity = CProcessIdentity::Parse(*strText);
    if (identity && identity->IsAlive())
        return identity;
    ClearRunning();
    return std::nullopt;
}

int CServiceEntry::WriteRunning(const CProcessIdentity& identity) const {
    return WriteFileAtomically(m_strDirectory + "/pid", identity.ToString());
}

void CServiceEntry::ClearRunning() const {
    unlink((m_strDirectory + "/pid").c_str());
}

bool CServiceEntry::IsMarkedForDeletion() const {
    return access((m_strDirectory + "/delete-pending").c_str(), F_OK) == 0;
}

int CServiceEntry::MarkForDeletion() const {
    return WriteFileAtomically(m_strDirectory + "/delete-pending", "");
}

int CServiceEntry::Remove() const {
    const std::string strRemoved =
        m_strDatabase + "/.removed-" + m_strName + "-" + std::to_string(getpid());
    std::error_code error;
    std::filesystem::remove_all(strRemoved, error); // left by a removal cut short
    if (rename(m_strDirectory.c_str(), strRemoved.c_str()) != 0)
        return errno;
    std::filesystem::remove_all(strRemoved, error);
    return 0;
}
