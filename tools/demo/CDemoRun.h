// One run of the demo: the demo port with its modem, the sample application
// talking to it, a map file offering the port, and the command that shows
// it. The run ends with the command, or on SIGINT, SIGTERM or SIGHUP when
// there is none, and leaves no process, pty or file of its own behind.
#pragma once

#include "CChildProcess.h"
#include "CDemoPort.h"
#include "CSignalFd.h"

#include <string>
#include <vector>

struct CDemoOptions {
    std::vector<std::string> command; // empty: run until a signal
    std::string strDriverImage;       // empty: the driver is the command's business
    std::string strTranscript;        // where the sample application logs what it moved
};

class CDemoRun {
public:
    explicit CDemoRun(CDemoOptions options);
    ~CDemoRun();
    CDemoRun(const CDemoRun&) = delete;
    CDemoRun& operator=(const CDemoRun&) = delete;

    // The command's exit status (0 without one), or 1 when the demo could
    // not be set up.
    int Run();

private:
    bool Start();
    bool IsOver() const;
    void OnSignal(const signalfd_siginfo& info);
    void ReapChildren();

    CDemoOptions m_options;
    CSignalFd m_signals;
    std::string m_strDir;
    CDemoPort m_port;
    CChildProcess m_driver;
    CChildProcess m_app;
    CChildProcess m_command;
    bool m_bStopped = false;
};
