#include "TraceHarness.h"

#include "ProcScanner.h"

#include "VantryProtocol.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iomanip>
#include <stdexcept>

extern char** environ;

std::ostream& operator<<(std::ostream& out, const CRecord& record) {
    out << "{type " << int(record.nType) << ", pid " << record.dwPid << ", \"";
    for (const unsigned char c : record.strData) {
        if (c >= 0x20 && c < 0x7F)
            out << c;
        else
            out << "\\x" << std::hex << std::setw(2) << std::setfill('0') << int(c) << std::dec;
    }
    return out << "\"}";
}

namespace Expect {
CRecord Opened(pid_t nPid) {
    return {Vantry::CAPTURE_PORT_OPENED, std::uint32_t(nPid), ""};
}
CRecord Closed(pid_t nPid) {
    return {Vantry::CAPTURE_PORT_CLOSED, std::uint32_t(nPid), ""};
}
CRecord Read(pid_t nPid, const std::string& strData) {
    return {Vantry::CAPTURE_DATA_READ, std::uint32_t(nPid), strData};
}
CRecord Written(pid_t nPid, const std::string& strData) {
    return {Vantry::CAPTURE_DATA_WRITTEN, std::uint32_t(nPid), strData};
}
CRecord Baud(pid_t nPid, std::uint32_t dwRate) {
    std::string strData(4, '\0');
    Vantry::PutU32(reinterpret_cast<std::uint8_t*>(strData.data()), dwRate);
    return {Vantry::CAPTURE_BAUD_RATE, std::uint32_t(nPid), strData};
}
CRecord Line(pid_t nPid, std::uint8_t byStop, std::uint8_t byParity, std::uint8_t byBits) {
    return {Vantry::CAPTURE_LINE_CONTROL, std::uint32_t(nPid),
            std::string{char(byStop), char(byParity), char(byBits)}};
}
} // namespace Expect

// --- CChild ----------------------------------------------------------------

CChild::CChild(const std::vector<std::string>& args, const std::string& strTerminal) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (strTerminal.empty()) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    } else {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        posix_spawn_file_actions_addopen(&actions, 0, strTerminal.c_str(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
        posix_spawn_file_actions_adddup2(&actions, 0, 2);
    }
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int nError = posix_spawn(&m_nPid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    m_hIn = in[1];
    m_hOut = out[0];
    m_hErr = err[0];
    if (nError != 0)
        throw std::runtime_error("cannot start " + args[0]);
    signal(SIGPIPE, SIG_IGN);
    m_reader = std::thread(&CChild::Collect, this);
}

CChild::~CChild() {
    if (!m_bReaped) {
        kill(m_nPid, SIGKILL);
        Wait();
    }
    CloseInput();
    m_reader.join();
    close(m_hOut);
    close(m_hErr);
}

void CChild::Collect() {
    pollfd fds[2] = {{m_hOut, POLLIN, 0}, {m_hErr, POLLIN, 0}};
    std::string* sinks[2] = {&m_strOut, &m_strErr};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (poll(fds, 2, -1) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            std::lock_guard lock(m_mutex);
            if (n > 0)
                sinks[i]->append(buffer, std::size_t(n));
            else
                fds[i].fd = -1;
            m_changed.notify_all();
        }
    }
    std::lock_guard lock(m_mutex);
    m_bClosed = true;
    m_changed.notify_all();
}

void CChild::Send(const std::string& strText) {
    [[maybe_unused]] const auto n = write(m_hIn, strText.data(), strText.size());
}

void CChild::CloseInput() {
    if (m_hIn >= 0)
        close(m_hIn);
    m_hIn = -1;
}

std::string CChild::WaitLine(const std::string& strPrefix, bool bStderr,
                             std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    std::string strFound;
    m_changed.wait_for(lock, timeout, [&] {
        const std::string& strText = bStderr ? m_strErr : m_strOut;
        for (std::size_t nStart = 0; nStart < strText.size();) {
            const std::size_t nEnd = strText.find('\n', nStart);
            if (nEnd == std::string::npos)
                break;
            if (strText.compare(nStart, strPrefix.size(), strPrefix) == 0) {
                strFound = strText.substr(nStart, nEnd - nStart);
                return true;
            }
            nStart = nEnd + 1;
        }
        return m_bClosed;
    });
    return strFound;
}

std::string CChild::Out() {
    std::lock_guard lock(m_mutex);
    return m_strOut;
}

std::string CChild::Err() {
    std::lock_guard lock(m_mutex);
    return m_strErr;
}

bool CChild::WaitOut(const std::function<bool(const std::string&)>& done,
                     std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return done(m_strOut); });
}

int CChild::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int nStatus = 0;
    for (;;) {
        const pid_t nDone = waitpid(m_nPid, &nStatus, WNOHANG);
        if (nDone == m_nPid)
            break;
        if (nDone < 0 || std::chrono::steady_clock::now() > deadline)
            return -1;
        usleep(1000);
    }
    m_bReaped = true;
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

void CChild::Kill(int nSignal) {
    kill(m_nPid, nSignal);
}

// --- CPtyLine ------------------------------------------------------------------

CPtyLine::CPtyLine() {
    m_hMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_hMaster < 0 || grantpt(m_hMaster) || unlockpt(m_hMaster))
        throw std::runtime_error("no pty");
    m_strSlave = ptsname(m_hMaster);
    m_hStop = eventfd(0, EFD_CLOEXEC);
    m_reader = std::thread([this] {
        for (;;) {
            pollfd fds[2] = {{m_hMaster, POLLIN, 0}, {m_hStop, POLLIN, 0}};
            poll(fds, 2, -1);
            if (fds[1].revents)
                return;
            char buffer[65536];
            const ssize_t n = read(m_hMaster, buffer, sizeof buffer);
            if (n <= 0) {
                // No slave open (yet or any more): nothing to read for now.
                pollfd stop{m_hStop, POLLIN, 0};
                if (poll(&stop, 1, 2) > 0)
                    return;
                continue;
            }
            std::lock_guard lock(m_mutex);
            m_strReceived.append(buffer, std::size_t(n));
            m_changed.notify_all();
        }
    });
}

CPtyLine::~CPtyLine() {
    const std::uint64_t qwOne = 1;
    [[maybe_unused]] const auto n = write(m_hStop, &qwOne, sizeof qwOne);
    m_reader.join();
    close(m_hStop);
    close(m_hMaster);
}

void CPtyLine::Send(const std::string& strText) {
    [[maybe_unused]] const auto n = write(m_hMaster, strText.data(), strText.size());
}

std::string CPtyLine::Received() {
    std::lock_guard lock(m_mutex);
    return m_strReceived;
}

bool CPtyLine::WaitReceived(std::size_t nBytes, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_strReceived.size() >= nBytes; });
}

// --- CProbe ----------------------------------------------------------------

namespace {
std::vector<std::string> ProbeArgs(const std::vector<std::string>& ports) {
    std::vector<std::string> args{TRACE_PROBE_PATH};
    args.insert(args.end(), ports.begin(), ports.end());
    return args;
}
} // namespace

CProbe::CProbe(const std::vector<std::string>& ports) : m_child(ProbeArgs(ports)) {
    if (m_child.WaitLine("ready", true).empty())
        throw std::runtime_error("probe did not start: " + m_child.Err());
}

std::vector<CRecord> ParseRecords(const std::string& strFile) {
    std::vector<CRecord> records;
    Vantry::ForEachFileRecord(
        {reinterpret_cast<const std::uint8_t*>(strFile.data()), strFile.size()}, [&](auto record) {
            CRecord parsed;
            parsed.nType = std::int8_t(record[Vantry::RECORD_EVENT_TYPE_OFFSET]);
            parsed.dwPid = Vantry::GetU32(record.data() + Vantry::RECORD_PID_OFFSET);
            parsed.strData.assign(record.begin() + Vantry::RECORD_DATA_OFFSET, record.end());
            records.push_back(parsed);
        });
    return records;
}

bool EndsWithClose(const std::vector<CRecord>& records) {
    return !records.empty() && records.back().nType == Vantry::CAPTURE_PORT_CLOSED;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(1000);
    }
    return true;
}

std::vector<CRecord> CProbe::Records() {
    return ParseRecords(m_child.Out());
}

std::vector<CRecord>
CProbe::WaitRecords(const std::function<bool(const std::vector<CRecord>&)>& done,
                    std::chrono::milliseconds timeout) {
    std::vector<CRecord> records;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        records = Records();
        if (done(records) || std::chrono::steady_clock::now() > deadline)
            return records;
        const std::size_t nSize = m_child.Out().size();
        m_child.WaitOut([nSize](const std::string& strOut) { return strOut.size() != nSize; },
                        50ms);
    }
}

std::vector<CRecord> CProbe::WaitCount(std::size_t nCount, std::chrono::milliseconds timeout) {
    return WaitRecords([nCount](const auto& records) { return records.size() >= nCount; }, timeout);
}

void CProbe::Unwatch() {
    m_child.Send("unwatch\n");
    m_child.WaitLine("unwatched", true);
}

int CProbe::Stop() {
    m_child.CloseInput();
    return m_child.Wait();
}

std::string TraceAppPath() {
    return TRACE_APP_PATH;
}

pid_t TracerOf(pid_t nPid) {
    return ProcScanner::TracerOf(nPid);
}
