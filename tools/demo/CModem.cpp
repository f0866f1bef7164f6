#include "CModem.h"

#include <cctype>

namespace {

std::string Result(const std::string& strText) {
    return "\r\n" + strText + "\r\n";
}

} // namespace

std::string CModem::Receive(std::span<const char> input) {
    std::string strAnswer;
    for (const char ch : input) {
        if (ch == '\n')
            continue;
        if (ch != '\r') {
            if (m_strLine.size() < MAX_COMMAND)
                m_strLine += char(std::toupper(static_cast<unsigned char>(ch)));
            else
                m_bOverflow = true;
            continue;
        }
        if (m_bOverflow)
            strAnswer += Result("ERROR");
        else if (!m_strLine.empty())
            strAnswer += Answer(m_strLine);
        m_strLine.clear();
        m_bOverflow = false;
    }
    return strAnswer;
}

std::string CModem::Answer(const std::string& strCommand) {
    const std::string strOk = Result("OK");
    if (strCommand == "AT")
        return strOk;
    if (strCommand == "ATI")
        return Result(IDENTITY) + strOk;
    if (strCommand == "AT+GMM")
        return Result("DM-1200") + strOk;
    if (strCommand == "AT+CSQ") {
        // A signal that wanders between 8 and 31, so that every answer
        // differs a little from the last.
        const unsigned nLevel = 8 + (m_nQueries++ * 7 + 11) % 24;
        return Result("+CSQ: " + std::to_string(nLevel) + ",99") + strOk;
    }
    return Result("ERROR");
}
