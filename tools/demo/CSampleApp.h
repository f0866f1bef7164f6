// The demo's sample application: a host that talks to the modem on the demo
// port as a terminal program would. Each session opens the port, sets its
// rate and line control, sends a request about every second and reads the
// answers, then closes it. Sessions alternate between two settings, so that
// a monitor sees every kind of event.
#pragma once

#include "CScopedFd.h"
#include "CSignalFd.h"
#include "CTranscript.h"

#include <termios.h>

#include <string>

class CSampleApp {
public:
    CSampleApp(std::string strPort, const CTranscript& transcript, const CSignalFd& signals)
        : m_strPort(std::move(strPort)), m_transcript(transcript), m_signals(signals) {}

    // Runs until SIGINT, SIGTERM or SIGHUP: 0 then, 1 when the port cannot
    // be opened or set.
    int Run();

private:
    struct CLine {
        speed_t nSpeed;
        tcflag_t nCharSize;
        bool bEvenParity;
    };

    // The exit status for a port that cannot be opened or set.
    int Fail() const;
    bool SetLine(const CLine& line) const;
    // Reads the answers for nMs. False when the application is to end: a
    // stop signal came (m_nStatus 0), or the port's far end is gone (1).
    bool Listen(int nMs);
    void Send(const std::string& strRequest);

    std::string m_strPort;
    const CTranscript& m_transcript;
    const CSignalFd& m_signals;
    CScopedFd m_hPort;
    unsigned m_nRequest = 0;
    int m_nStatus = 0;
};
