// A real vantry.sys for one test: its device in a fresh temporary
// directory, started the way the service manager starts it (readiness on
// VANTRY_READY_FD), stopped with SIGTERM. It dies with the test process, so
// a test killed by its timeout leaves no driver behind.
#pragma once

#include "Process.h"

#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

class CDriverProcess {
public:
    CDriverProcess();
    ~CDriverProcess();

    const std::string& Dir() const { return m_strDir; }
    const std::string& DevicePath() const { return m_strDevice; }
    // Writes a file into the directory and returns its path.
    std::string WriteFile(const std::string& strName, const std::vector<std::uint8_t>& bytes) const;

    // Starts vantry.sys with these arguments (as uid when not 0) and waits
    // until it reports ready; false when it exited instead, with its exit
    // status and what it said on stderr.
    bool Start(const std::vector<std::string>& args = {}, uid_t uid = 0);
    // Another vantry.sys than the one built with the tests, for Start.
    void UseBinary(const std::string& strPath) { m_strBinary = strPath; }
    // Start with `--replay FILE --fast` and these records in FILE.
    bool StartReplay(const std::vector<std::vector<std::uint8_t>>& records,
                     std::vector<std::string> extra = {});
    // SIGTERM and wait: the exit status, -1 when it did not exit normally.
    int Stop();
    int ExitStatus() const { return m_nExitStatus; }
    // The daemon's pid: the live capture's tracer is one of its threads.
    pid_t Pid() const { return m_pChild ? m_pChild->Pid() : -1; }
    const std::string& Stderr() const { return m_strStderr; }
    // The driver's threads, to see that nothing is left behind.
    int ThreadCount() const;
    // VANTRY_DEVICE for this process and the programs it starts.
    void UseForThisProcess() const { setenv("VANTRY_DEVICE", m_strDevice.c_str(), 1); }

private:
    std::string m_strDir;
    std::string m_strDevice;
    std::string m_strBinary;
    std::unique_ptr<CChild> m_pChild;
    int m_nExitStatus = -1;
    std::string m_strStderr;
};
