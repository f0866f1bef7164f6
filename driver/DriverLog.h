// The driver's log: one line on stderr per thing that happened, which the
// service manager keeps as the service's log. One write per line, so lines
// of different threads never mix.
#pragma once

#include <unistd.h>

#include <cstring>
#include <string>

inline void Log(const std::string& strMessage, int nError = 0) {
    std::string strLine = "vantry.sys: " + strMessage;
    if (nError != 0)
        strLine += std::string(": ") + std::strerror(nError);
    strLine += '\n';
    [[maybe_unused]] const auto nWritten = write(STDERR_FILENO, strLine.data(), strLine.size());
}
