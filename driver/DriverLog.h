// The driver's log: one line on stderr per thing that happened, which the
// service manager keeps as the service's log. One write per line, so lines
// of different threads never mix.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

inline void Log(const std::string& strMessage, int nError = 0) {
    std::string strLine = "vantry.sys: " + strMessage;
    if (nError != 0)
        strLine += std::string(": ") + std::strerror(nError);
    strLine += '\n';
    [[maybe_unused]] const auto nWritten = write(STDERR_FILENO, strLine.data(), strLine.size());
}

// A client's text (a path) for the log: quoted, with its quotes,
// backslashes, control characters and non-ASCII bytes escaped, so that it
// can neither end its line nor pass for the driver's words; and cut, so a
// long one cannot swell the log.
inline std::string Quoted(std::string_view text, std::size_t nMax = 200) {
    std::string strQuoted = "\"";
    for (const char ch : text.substr(0, nMax)) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte >= 0x7F || ch == '"' || ch == '\\') {
            char szEscape[5];
            std::snprintf(szEscape, sizeof szEscape, "\\x%02X", byte);
            strQuoted += szEscape;
        } else {
            strQuoted += ch;
        }
    }
    strQuoted += '"';
    if (text.size() > nMax)
        strQuoted += "... (" + std::to_string(text.size()) + " bytes)";
    return strQuoted;
}
