#include "CProcessIdentity.h"

#include <signal.h>
#include <time.h>

#include <charconv>
#include <fstream>
#include <sstream>

namespace {

struct CProcStat {
    char chState = 0;
    std::uint64_t qwStartTime = 0;
};

// The command name in /proc/<pid>/stat may hold spaces and parentheses, so
// the fields are counted from the last ')'.
std::optional<CProcStat> ReadProcStat(pid_t nPid) {
    std::ifstream file("/proc/" + std::to_string(nPid) + "/stat");
    std::string strLine;
    if (!file || !std::getline(file, strLine))
        return std::nullopt;
    const auto nParen = strLine.rfind(')');
    if (nParen == std::string::npos)
        return std::nullopt;
    std::istringstream fields(strLine.substr(nParen + 1));
    CProcStat stat;
    std::string strField;
    // State is field 3 of the file, the start time field 22.
    for (int nField = 3; nField <= 22 && fields >> strField; ++nField) {
        if (nField == 3)
            stat.chState = strField[0];
        else if (nField == 22)
            std::from_chars(strField.data(), strField.data() + strField.size(), stat.qwStartTime);
    }
    if (stat.chState == 0 || stat.qwStartTime == 0)
        return std::nullopt;
    return stat;
}

} // namespace

std::optional<CProcessIdentity> CProcessIdentity::Of(pid_t nPid) {
    if (nPid <= 0)
        return std::nullopt;
    const auto stat = ReadProcStat(nPid);
    if (!stat)
        return std::nullopt;
    return CProcessIdentity(nPid, stat->qwStartTime);
}

std::optional<CProcessIdentity> CProcessIdentity::Parse(const std::string& strText) {
    std::istringstream in(strText);
    long long nPid = 0;
    std::uint64_t qwStartTime = 0;
    if (!(in >> nPid >> qwStartTime) || nPid <= 0 || nPid > INT32_MAX || qwStartTime == 0)
        return std::nullopt;
    return CProcessIdentity(static_cast<pid_t>(nPid), qwStartTime);
}

std::string CProcessIdentity::ToString() const {
    return std::to_string(m_nPid) + " " + std::to_string(m_qwStartTime) + "\n";
}

bool CProcessIdentity::IsAlive() const {
    const auto stat = ReadProcStat(m_nPid);
    return stat && stat->qwStartTime == m_qwStartTime && stat->chState != 'Z' &&
           stat->chState != 'X';
}

bool CProcessIdentity::Signal(int nSignal) const {
    return IsAlive() && ::kill(m_nPid, nSignal) == 0;
}

bool CProcessIdentity::WaitForExit(int nTimeoutMs) const {
    constexpr int nStepMs = 5;
    for (int nWaited = 0; IsAlive(); nWaited += nStepMs) {
        if (nWaited >= nTimeoutMs)
            return false;
        const timespec step{0, nStepMs * 1000000L};
        nanosleep(&step, nullptr);
    }
    return true;
}

void CProcessIdentity::Terminate(int nGraceMs, int nKillWaitMs) const {
    if (Signal(SIGTERM) && !WaitForExit(nGraceMs)) {
        Signal(SIGKILL);
        WaitForExit(nKillWaitMs);
    }
}
