// Runs the command-line tools for tests: to completion with a given standard
// input, or left running while the test reads what it prints.
#pragma once

#include <string>
#include <vector>

struct CProcessResult {
    int nExitStatus = -1; // -1 when it did not exit normally
    std::string strOut;
    std::string strErr;
};

class CRunningProcess {
public:
    // Starts args with strInput as standard input; standard error is kept
    // in a file, so a chatty program never blocks on it.
    explicit CRunningProcess(const std::vector<std::string>& args,
                             const std::string& strInput = {});
    ~CRunningProcess();
    CRunningProcess(const CRunningProcess&) = delete;

    // Reads standard output until it holds at least nBytes; false at its end.
    bool ReadAtLeast(std::size_t nBytes);
    const std::string& Out() const { return m_strOut; }
    // Sends the signal (0: none), waits, and returns all it printed.
    CProcessResult Finish(int nSignal);

private:
    int m_nPid = -1;
    int m_hOut = -1;
    int m_hErr = -1;
    std::string m_strOut;
};

inline CProcessResult RunProcess(const std::vector<std::string>& args,
                                 const std::string& strInput = {}) {
    return CRunningProcess(args, strInput).Finish(0);
}
