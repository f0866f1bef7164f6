#include "CReplacingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

CReplacingFile::~CReplacingFile() {
    if (!m_strTemp.empty())
        unlink(m_strTemp.c_str());
    if (m_hFd >= 0 && !IsStandardOutput())
        close(m_hFd);
}

bool CReplacingFile::Create() {
    if (IsStandardOutput()) {
        m_hFd = STDOUT_FILENO;
        return true;
    }
    const std::filesystem::path path(m_strPath);
    std::string strTemp =
        (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    m_hFd = mkostemp(strTemp.data(), O_CLOEXEC);
    if (m_hFd < 0)
        return false;
    m_strTemp = strTemp;
    // mkostemp makes it 0600; the result is made like any other new file.
    const mode_t nMask = umask(0);
    umask(nMask);
    fchmod(m_hFd, 0666 & ~nMask);
    return true;
}

bool CReplacingFile::Replace() {
    if (m_strTemp.empty())
        return true;
    if (rename(m_strTemp.c_str(), m_strPath.c_str()) != 0)
        return false;
    m_strTemp.clear();
    return true;
}

bool CReplacingFile::Close() {
    if (IsStandardOutput() || m_hFd < 0)
        return true;
    const bool bSynced = fsync(m_hFd) == 0;
    const int hFd = m_hFd;
    m_hFd = -1;
    return close(hFd) == 0 && bSynced;
}
