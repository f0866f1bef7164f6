#include "Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace {

// An anonymous file holding strText, positioned at its start.
int MemoryFile(const std::string& strText) {
    const int hFd = memfd_create("wirelet-test", MFD_CLOEXEC);
    if (hFd < 0 || write(hFd, strText.data(), strText.size()) != ssize_t(strText.size()) ||
        lseek(hFd, 0, SEEK_SET) != 0)
        throw std::runtime_error("memfd_create failed");
    return hFd;
}

} // namespace

CRunningProcess::CRunningProcess(const std::vector<std::string>& args,
                                 const std::string& strInput) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    const int hIn = MemoryFile(strInput);
    m_hOut = out[0];
    m_hErr = MemoryFile({});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, hIn, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, m_hErr, 2);
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int nError = posix_spawn(&m_nPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(hIn);
    close(out[1]);
    if (nError != 0) {
        m_nPid = -1;
        throw std::runtime_error("cannot start " + args[0]);
    }
}

CRunningProcess::~CRunningProcess() {
    if (m_nPid > 0)
        Finish(SIGKILL);
    close(m_hOut);
    close(m_hErr);
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
    if (nSignal != 0)
        kill(m_nPid, nSignal);
    ReadAtLeast(std::string::npos);
    int nStatus = 0;
    waitpid(m_nPid, &nStatus, 0);
    m_nPid = -1;
    std::ostringstream err;
    err << std::ifstream("/proc/self/fd/" + std::to_string(m_hErr)).rdbuf();
    return {WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1, m_strOut, err.str()};
}
