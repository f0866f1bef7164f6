#include "CDemoPort.h"

#include <fcntl.h>
#include <stdlib.h>

#include <array>
#include <cerrno>

int CDemoPort::Open() {
    CScopedFd hMaster(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!hMaster.IsValid() || grantpt(hMaster.Get()) != 0 || unlockpt(hMaster.Get()) != 0)
        return errno;
    std::array<char, 128> szName{};
    if (const int nError = ptsname_r(hMaster.Get(), szName.data(), szName.size()))
        return nError;
    m_hMaster = std::move(hMaster);
    m_strPortPath = szName.data();
    return 0;
}

bool CDemoPort::Serve() {
    std::array<char, 4096> buffer;
    const ssize_t nRead = read(m_hMaster.Get(), buffer.data(), buffer.size());
    if (nRead <= 0)
        return nRead < 0 && errno == EAGAIN;
    const std::string strAnswer = m_modem.Receive({buffer.data(), std::size_t(nRead)});
    // Like a line without flow control, a host that does not read loses
    // what would not fit.
    if (!strAnswer.empty() && write(m_hMaster.Get(), strAnswer.data(), strAnswer.size()) < 0)
        return errno == EAGAIN;
    return true;
}
