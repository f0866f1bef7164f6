// Runs a program to completion with the given standard input and collects
// what it printed: for tests of the command-line tools.
#pragma once

#include <string>
#include <vector>

struct CProcessResult {
    int nExitStatus = -1; // -1 when it did not exit normally
    std::string strOut;
    std::string strErr;
};

// Reads what one readable pipe holds and appends it; false at its end.
bool AppendAvailable(int hFd, std::string& strSink);

CProcessResult RunProcess(const std::vector<std::string>& args, const std::string& strInput = {});

// A program left running while the test talks to it: its output is read as
// it comes, and it is stopped with a signal.
class CRunningProcess {
public:
    explicit CRunningProcess(const std::vector<std::string>& args);
    ~CRunningProcess();
    CRunningProcess(const CRunningProcess&) = delete;

    // Reads standard output until it holds at least nBytes; false at its end.
    bool ReadAtLeast(std::size_t nBytes);
    const std::string& Out() const { return m_strOut; }
    // Sends the signal and waits: the result with all it printed.
    CProcessResult Finish(int nSignal);

private:
    int m_nPid = -1;
    int m_hOut = -1;
    int m_hErr = -1;
    std::string m_strOut;
};
