#include "ProcScanner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace ProcScanner {

namespace {

std::vector<int> NumericEntries(const std::string& strDirectory) {
    std::vector<int> entries;
    DIR* pDir = opendir(strDirectory.c_str());
    if (!pDir)
        return entries;
    while (const dirent* pEntry = readdir(pDir)) {
        char* pEnd = nullptr;
        const long nValue = std::strtol(pEntry->d_name, &pEnd, 10);
        if (pEnd != pEntry->d_name && *pEnd == '\0' && nValue >= 0)
            entries.push_back(int(nValue));
    }
    closedir(pDir);
    return entries;
}

// What follows "Name:" in /proc/TID/status; empty when the thread is gone.
std::optional<std::string> StatusLine(pid_t nTid, const std::string& strName) {
    std::ifstream file("/proc/" + std::to_string(nTid) + "/status");
    std::string strLine;
    while (std::getline(file, strLine)) {
        if (strLine.compare(0, strName.size(), strName) == 0 && strLine.size() > strName.size() &&
            strLine[strName.size()] == ':')
            return strLine.substr(strName.size() + 1);
    }
    return std::nullopt;
}

long StatusField(pid_t nTid, const std::string& strName) {
    const auto strValue = StatusLine(nTid, strName);
    return strValue ? std::strtol(strValue->c_str(), nullptr, 10) : -1;
}

} // namespace

std::vector<pid_t> ListProcesses() {
    return NumericEntries("/proc");
}

std::vector<pid_t> ListThreads(pid_t nPid) {
    return NumericEntries("/proc/" + std::to_string(nPid) + "/task");
}

std::optional<CPortId> CharDeviceOf(pid_t nTid, int nFd) {
    // Cached attributes only: a file on a network filesystem must not make
    // the tracer wait for its server.
    struct statx info;
    const std::string strPath = "/proc/" + std::to_string(nTid) + "/fd/" + std::to_string(nFd);
    if (statx(AT_FDCWD, strPath.c_str(), AT_STATX_DONT_SYNC, STATX_TYPE, &info) != 0 ||
        !S_ISCHR(info.stx_mode))
        return std::nullopt;
    return CPortId{makedev(info.stx_dev_major, info.stx_dev_minor),
                   makedev(info.stx_rdev_major, info.stx_rdev_minor)};
}

std::map<int, CPortId> PortFds(pid_t nPid, const std::set<CPortId>& ports) {
    std::map<int, CPortId> fds;
    for (const int nFd : NumericEntries("/proc/" + std::to_string(nPid) + "/fd")) {
        const auto device = CharDeviceOf(nPid, nFd);
        if (device && ports.count(*device))
            fds[nFd] = *device;
    }
    return fds;
}

pid_t TracerOf(pid_t nTid) {
    return pid_t(StatusField(nTid, "TracerPid"));
}

bool IsExiting(pid_t nPid) {
    std::ifstream file("/proc/" + std::to_string(nPid) + "/stat");
    std::string strStat;
    if (!std::getline(file, strStat))
        return true;
    // Fields after the command name: state (3) ... flags (9).
    std::istringstream fields(strStat.substr(strStat.rfind(')') + 1));
    std::string strState;
    unsigned long ulFlags = 0;
    std::string strSkip;
    fields >> strState;
    for (int i = 4; i < 9; ++i)
        fields >> strSkip;
    fields >> ulFlags;
    constexpr unsigned long PF_EXITING = 0x4;
    return strState == "Z" || strState == "X" || (ulFlags & PF_EXITING);
}

std::optional<uid_t> OwnerOf(pid_t nPid) {
    const auto strUids = StatusLine(nPid, "Uid");
    if (!strUids)
        return std::nullopt;
    std::istringstream fields(*strUids);
    uid_t uids[4] = {};
    for (uid_t& uid : uids)
        fields >> uid;
    if (!fields)
        return std::nullopt;
    return std::all_of(uids, uids + 4, [&](uid_t uid) { return uid == uids[0]; }) ? uids[0] : 0;
}

pid_t ThreadGroupOf(pid_t nTid) {
    return pid_t(StatusField(nTid, "Tgid"));
}

} // namespace ProcScanner
