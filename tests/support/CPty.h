// A pseudo-terminal pair: the slave is a real terminal device to attach to.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

class CPty {
public:
    CPty() {
        m_hMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_hMaster < 0 || grantpt(m_hMaster) != 0 || unlockpt(m_hMaster) != 0)
            throw std::runtime_error("posix_openpt failed");
        m_strSlave = ptsname(m_hMaster);
    }
    ~CPty() { close(m_hMaster); }
    CPty(const CPty&) = delete;

    const std::string& Slave() const { return m_strSlave; }

private:
    int m_hMaster = -1;
    std::string m_strSlave;
};
