#include "CProcessIdentity.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

std::optional<CProcessIdentity> CProcessIdentity::Of(pid_t nPid) {
    std::ifstream file("/proc/" + std::to_string(nPid) + "/stat");
    std::string strStat;
    if (!std::getline(file, strStat))
        return std::nullopt;
    // The command name may hold spaces and parentheses: fields start after
    // the last ')'.
    const auto nClose = strStat.rfind(')');
    if (nClose == std::string::npos)
        return std::nullopt;
    std::istringstream fields(strStat.substr(nClose + 1));
    std::string strField;
    // Field 3 (state) is the first after the name; the start time is 22.
    for (int i = 3; i <= 22; ++i) {
        if (!(fields >> strField))
            return std::nullopt;
    }
    return CProcessIdentity(nPid, std::strtoull(strField.c_str(), nullptr, 10));
}
