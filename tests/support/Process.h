// Real child processes for tests: the command-line tools, the test
// applications and the driver, with their standard streams collected as they
// come, or run to completion with a given standard input.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

struct CProcessResult {
    int nExitStatus = -1; // -1 when it did not exit normally
    std::string strOut;
    std::string strErr;
};

class CChild {
public:
    explicit CChild(const std::vector<std::string>& args);
    ~CChild();
    CChild(const CChild&) = delete;

    pid_t Pid() const { return m_nPid; }
    void Send(const std::string& strText) {
        [[maybe_unused]] const auto n = write(m_hIn, strText.data(), strText.size());
    }
    void CloseInput();
    // Waits until stdout (or stderr) holds a line starting with `strPrefix`;
    // returns the line, or "" on timeout.
    std::string WaitLine(const std::string& strPrefix, bool bStderr = false,
                         std::chrono::milliseconds timeout = 5s);
    std::string Out() { return Locked(m_strOut); }
    std::string Err() { return Locked(m_strErr); }
    // Waits until the collected stdout satisfies `done`.
    bool WaitOut(const std::function<bool(const std::string&)>& done,
                 std::chrono::milliseconds timeout = 5s);
    // Exit status, or -1 when it did not exit normally within the timeout;
    // once it exited, everything it printed is collected.
    int Wait(std::chrono::milliseconds timeout = 5s);
    void Kill(int nSignal) { kill(m_nPid, nSignal); }
    // Sends the signal (0: none), closes its input, waits, and returns all
    // it printed.
    CProcessResult Finish(int nSignal = 0);

private:
    void Collect();
    std::string Locked(const std::string& strText) {
        std::lock_guard lock(m_mutex);
        return strText;
    }

    pid_t m_nPid = -1;
    int m_hIn = -1, m_hOut = -1, m_hErr = -1;
    bool m_bReaped = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_strOut, m_strErr;
    bool m_bClosed = false;
    std::thread m_reader;
};

inline CProcessResult RunProcess(const std::vector<std::string>& args,
                                 const std::string& strInput = {}) {
    CChild child(args);
    child.Send(strInput);
    return child.Finish();
}

// A whole file as text; empty when it cannot be read.
inline std::string ReadText(const std::string& strPath) {
    std::ostringstream text;
    text << std::ifstream(strPath).rdbuf();
    return text.str();
}

// Field n (from 3) of /proc/<pid>/stat; empty when there is no such process.
inline std::string ProcStatField(pid_t nPid, int nField) {
    const std::string strStat = ReadText("/proc/" + std::to_string(nPid) + "/stat");
    std::istringstream fields(strStat.empty() ? "" : strStat.substr(strStat.rfind(')') + 2));
    std::string strValue;
    for (int n = 3; n <= nField; ++n)
        fields >> strValue;
    return strValue;
}
