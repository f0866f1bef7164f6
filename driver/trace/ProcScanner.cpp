#include "ProcScanner.h"

#include <dirent.h>
#include <sys/stat.h>

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

long StatusField(pid_t nTid, const std::string& strName) {
    std::ifstream file("/proc/" + std::to_string(nTid) + "/status");
    std::string strLine;
    while (std::getline(file, strLine)) {
        if (strLine.compare(0, strName.size(), strName) == 0 && strLine.size() > strName.size() &&
            strLine[strName.size()] == ':')
            return std::strtol(strLine.c_str() + strName.size() + 1, nullptr, 10);
    }
    return -1;
}

} // namespace

std::vector<pid_t> ListProcesses() {
    return NumericEntries("/proc");
}

std::vector<pid_t> ListThreads(pid_t nPid) {
    return NumericEntries("/proc/" + std::to_string(nPid) + "/task");
}

std::optional<dev_t> CharDeviceOf(pid_t nTid, int nFd) {
    struct stat info;
    const std::string strPath = "/proc/" + std::to_string(nTid) + "/fd/" + std::to_string(nFd);
    if (stat(strPath.c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
        return std::nullopt;
    return info.st_rdev;
}

std::map<int, dev_t> PortFds(pid_t nPid, const std::set<dev_t>& ports) {
    std::map<int, dev_t> fds;
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

pid_t ThreadGroupOf(pid_t nTid) {
    return pid_t(StatusField(nTid, "Tgid"));
}

} // namespace ProcScanner
