#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace {

// Starts args with the child's ends of the pipes as its standard streams
// (hIn -1: the test's own standard input) and closes them here.
pid_t Spawn(const std::vector<std::string>& args, int hIn, int hOut, int hErr) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (hIn >= 0)
        posix_spawn_file_actions_adddup2(&actions, hIn, 0);
    posix_spawn_file_actions_adddup2(&actions, hOut, 1);
    posix_spawn_file_actions_adddup2(&actions, hErr, 2);
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    const int nError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (const int hFd : {hIn, hOut, hErr})
        if (hFd >= 0)
            close(hFd);
    if (nError != 0)
        throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

} // namespace

bool AppendAvailable(int hFd, std::string& strSink) {
    char buffer[65536];
    const ssize_t n = read(hFd, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    strSink.append(buffer, static_cast<std::size_t>(n));
    return true;
}

CProcessResult RunProcess(const std::vector<std::string>& args, const std::string& strInput) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe2 failed");
    const pid_t pid = Spawn(args, in[0], out[1], err[1]);

    CProcessResult result;
    std::size_t nWritten = 0;
    if (strInput.empty())
        close(in[1]), in[1] = -1;
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
    std::string* sinks[2] = {&result.strOut, &result.strErr};
    signal(SIGPIPE, SIG_IGN);
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (poll(fds, 3, -1) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            if (!AppendAvailable(fds[i].fd, *sinks[i])) {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
        if (fds[2].fd >= 0 && fds[2].revents) {
            const ssize_t n = write(in[1], strInput.data() + nWritten, strInput.size() - nWritten);
            if (n > 0)
                nWritten += static_cast<std::size_t>(n);
            if (n < 0 || nWritten == strInput.size()) {
                close(in[1]);
                fds[2].fd = -1;
            }
        }
    }
    if (fds[2].fd >= 0)
        close(fds[2].fd);
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    result.nExitStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return result;
}

CRunningProcess::CRunningProcess(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe2 failed");
    m_hOut = out[0];
    m_hErr = err[0];
    m_nPid = Spawn(args, -1, out[1], err[1]);
}

CRunningProcess::~CRunningProcess() {
    if (m_nPid > 0)
        Finish(SIGKILL);
}

bool CRunningProcess::ReadAtLeast(std::size_t nBytes) {
    char buffer[65536];
    while (m_strOut.size() < nBytes) {
        const ssize_t n = read(m_hOut, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        m_strOut.append(buffer, std::size_t(n));
    }
    return true;
}

CProcessResult CRunningProcess::Finish(int nSignal) {
    kill(m_nPid, nSignal);
    ReadAtLeast(std::string::npos);
    CProcessResult result;
    result.strOut = m_strOut;
    char buffer[4096];
    ssize_t n;
    while ((n = read(m_hErr, buffer, sizeof buffer)) > 0)
        result.strErr.append(buffer, std::size_t(n));
    close(m_hOut);
    close(m_hErr);
    int nStatus = 0;
    waitpid(m_nPid, &nStatus, 0);
    m_nPid = -1;
    result.nExitStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return result;
}
