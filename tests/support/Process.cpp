#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include <stdexcept>

extern char** environ;

CChild::CChild(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // A process group of its own under ours keeps job control alive: in a
    // group the kernel deems orphaned (as when the suite runs in a session of
    // its own, like CI's) a SIGTSTP would be discarded.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
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
        const std::string strText = "\n" + (bStderr ? m_strErr : m_strOut);
        const std::size_t nStart = strText.find("\n" + strPrefix);
        const std::size_t nEnd =
            nStart == std::string::npos ? nStart : strText.find('\n', nStart + 1);
        if (nEnd != std::string::npos)
            strFound = strText.substr(nStart + 1, nEnd - nStart - 1);
        return nEnd != std::string::npos || m_bClosed;
    });
    return strFound;
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
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, 1s, [this] { return m_bClosed; });
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

CProcessResult CChild::Finish(int nSignal) {
    if (nSignal != 0)
        Kill(nSignal);
    CloseInput();
    const int nStatus = Wait();
    return {nStatus, Out(), Err()};
}
