#include "CTranscript.h"

#include "WriteAll.h"

#include <fcntl.h>

#include <cerrno>

int CTranscript::Open(const std::string& strPath) {
    if (strPath.empty())
        return 0;
    m_hFile.Reset(open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
    return m_hFile.IsValid() ? 0 : errno;
}

void CTranscript::Add(char cDirection, std::span<const std::uint8_t> bytes) const {
    if (!m_hFile.IsValid() || bytes.empty())
        return;
    static const char HEX[] = "0123456789ABCDEF";
    std::string strLine = {cDirection, ' '};
    for (const std::uint8_t by : bytes)
        strLine += {HEX[by >> 4], HEX[by & 15]};
    strLine += '\n';
    // One line, one write: a reader never sees half of it.
    WriteAll(m_hFile.Get(), strLine.data(), strLine.size());
}
