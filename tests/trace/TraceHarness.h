// Real processes on real ptys for the capture tests: a pty pair stands for
// a serial line (the application opens the slave, the test plays the device
// on the master), the probe runs the live source in its own process, and
// records come back in the order the source published them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

struct CRecord {
    std::int8_t nType = 0;
    std::uint32_t dwPid = 0;
    std::string strData;
    bool operator==(const CRecord&) const = default;
};
std::ostream& operator<<(std::ostream& out, const CRecord& record);

namespace Expect {
CRecord Opened(pid_t nPid);
CRecord Closed(pid_t nPid);
CRecord Read(pid_t nPid, const std::string& strData);
CRecord Written(pid_t nPid, const std::string& strData);
CRecord Baud(pid_t nPid, std::uint32_t dwRate);
CRecord Line(pid_t nPid, std::uint8_t byStop, std::uint8_t byParity, std::uint8_t byBits);
} // namespace Expect

// A child process with its standard streams on pipes, collected as they come.
class CChild {
public:
    // With a terminal path, the child's standard streams are that terminal
    // (in a session of its own) instead of pipes.
    explicit CChild(const std::vector<std::string>& args, const std::string& strTerminal = {});
    ~CChild();

    pid_t Pid() const { return m_nPid; }
    void Send(const std::string& strText);
    void CloseInput();
    // Waits until stdout (or stderr) holds a line starting with `strPrefix`;
    // returns the line, or "" on timeout.
    std::string WaitLine(const std::string& strPrefix, bool bStderr = false,
                         std::chrono::milliseconds timeout = 5s);
    std::string Out();
    std::string Err();
    // Waits until the collected stdout satisfies `done`.
    bool WaitOut(const std::function<bool(const std::string&)>& done,
                 std::chrono::milliseconds timeout = 5s);
    // Exit status, or -1 when it did not exit normally within the timeout.
    int Wait(std::chrono::milliseconds timeout = 5s);
    void Kill(int nSignal);

private:
    void Collect();

    pid_t m_nPid = -1;
    int m_hIn = -1, m_hOut = -1, m_hErr = -1;
    bool m_bReaped = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_strOut, m_strErr;
    bool m_bClosed = false;
    std::thread m_reader;
};

// A pty pair: the slave's path for the application, the master for us.
// Everything the application sends is collected from the master.
class CPtyLine {
public:
    CPtyLine();
    ~CPtyLine();
    const std::string& SlavePath() const { return m_strSlave; }
    void Send(const std::string& strText);
    std::string Received();
    bool WaitReceived(std::size_t nBytes, std::chrono::milliseconds timeout = 5s);

private:
    int m_hMaster = -1;
    int m_hStop = -1;
    std::string m_strSlave;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_strReceived;
    std::thread m_reader;
};

// The live source in a process of its own, watching the given ports.
class CProbe {
public:
    explicit CProbe(const std::vector<std::string>& ports);
    std::vector<CRecord> Records();
    // Waits until the records satisfy `done`; returns them either way.
    std::vector<CRecord> WaitRecords(const std::function<bool(const std::vector<CRecord>&)>& done,
                                     std::chrono::milliseconds timeout = 5s);
    std::vector<CRecord> WaitCount(std::size_t nCount, std::chrono::milliseconds timeout = 5s);
    void Unwatch();
    int Stop();
    CChild& Process() { return m_child; }

private:
    CChild m_child;
};

// The records of a record file (what the probe and `wirelet-cli capture` write).
std::vector<CRecord> ParseRecords(const std::string& strFile);
bool EndsWithClose(const std::vector<CRecord>& records);
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

std::string TraceAppPath();
pid_t TracerOf(pid_t nPid);
