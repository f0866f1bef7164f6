#include "RootOnlyPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>

namespace {

constexpr int MAX_LINKS = 40; // as the kernel allows in one lookup

bool IsRootOnly(const struct stat& status) {
    if (status.st_uid != 0)
        return false;
    if (S_ISLNK(status.st_mode)) // its own mode bits mean nothing
        return true;
    if (S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX))
        return true;
    return (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Puts the path's components in front of those still to be walked.
void PushComponents(const std::string& strPath, std::deque<std::string>& pending) {
    std::deque<std::string> components;
    for (std::size_t nStart = 0; nStart <= strPath.size();) {
        std::size_t nEnd = strPath.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = strPath.size();
        if (nEnd > nStart)
            components.push_back(strPath.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    pending.insert(pending.begin(), components.begin(), components.end());
}

} // namespace

int CheckRootOnlyPath(const std::string& strPath) {
    if (strPath.empty() || strPath[0] != '/')
        return EINVAL;
    struct stat status {};
    if (lstat("/", &status) != 0)
        return errno;
    if (!IsRootOnly(status))
        return EPERM;

    // Walked by hand rather than with realpath, because every link on the
    // way must be checked, and the directory that holds it.
    std::deque<std::string> pending;
    PushComponents(strPath, pending);
    std::string strDone; // resolved so far, without links; "" is "/"
    int nLinks = 0;
    while (!pending.empty()) {
        const std::string strName = pending.front();
        pending.pop_front();
        if (strName == ".")
            continue;
        if (strName == "..") { // the parent was checked on the way down
            if (!strDone.empty())
                strDone.erase(strDone.rfind('/'));
            continue;
        }
        const std::string strNext = strDone + "/" + strName;
        if (lstat(strNext.c_str(), &status) != 0)
            return errno;
        if (!IsRootOnly(status))
            return EPERM;
        if (!S_ISLNK(status.st_mode)) {
            strDone = strNext;
            continue;
        }
        if (++nLinks > MAX_LINKS)
            return ELOOP;
        char szTarget[PATH_MAX];
        const ssize_t nLength = readlink(strNext.c_str(), szTarget, sizeof szTarget);
        if (nLength <= 0 || std::size_t(nLength) >= sizeof szTarget)
            return nLength < 0 ? errno : ENAMETOOLONG;
        const std::string strTarget(szTarget, std::size_t(nLength));
        if (strTarget[0] == '/')
            strDone.clear();
        PushComponents(strTarget, pending);
    }
    return 0;
}
