// The demo port: a pty pair whose slave is the port applications open, and
// on whose master side the simulated modem answers. Only the demo holds the
// master; the port lives as long as this object.
#pragma once

#include "CModem.h"
#include "CScopedFd.h"

#include <string>

class CDemoPort {
public:
    // 0 or the errno value of the pty that could not be made.
    int Open();

    const std::string& GetPortPath() const { return m_strPortPath; }
    int GetMasterFd() const { return m_hMaster.Get(); }
    // Reads what the host wrote and writes the modem's answer. False when no
    // one holds the port open: the master then polls as hung up until an
    // application opens it again.
    bool Serve();

private:
    CScopedFd m_hMaster;
    std::string m_strPortPath;
    CModem m_modem;
};
