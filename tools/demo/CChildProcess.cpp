#include "CChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

int ExitStatus(int nWaitStatus) {
    return WIFSIGNALED(nWaitStatus) ? 128 + WTERMSIG(nWaitStatus) : WEXITSTATUS(nWaitStatus);
}

[[noreturn]] void RunChild(const std::vector<std::string>& args, pid_t nParent,
                           const CSignalFd& signals, const CChildOptions& options) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != nParent)
        _exit(127);
    if (options.bOwnGroup)
        setpgid(0, 0);
    signals.RestoreMask();
    for (const auto& [strName, strValue] : options.environment)
        setenv(strName.c_str(), strValue.c_str(), 1);
    if (options.hKeepFd >= 0)
        fcntl(options.hKeepFd, F_SETFD, 0);
    if (!options.strErrorFile.empty()) {
        const int hFile =
            open(options.strErrorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (hFile < 0 || dup2(hFile, STDERR_FILENO) < 0)
            _exit(127);
    }
    std::vector<char*> argv;
    for (const std::string& strArg : args)
        argv.push_back(const_cast<char*>(strArg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

} // namespace

bool CChildProcess::Start(const std::vector<std::string>& args, const CSignalFd& signals,
                          const CChildOptions& options) {
    const pid_t nParent = getpid();
    const pid_t nPid = fork();
    if (nPid < 0)
        return false;
    if (nPid == 0)
        RunChild(args, nParent, signals, options);
    m_nPid = nPid;
    m_nStatus.reset();
    return true;
}

bool CChildProcess::Reaped(pid_t nPid, int nWaitStatus) {
    if (nPid != m_nPid || m_nStatus)
        return false;
    m_nStatus = ExitStatus(nWaitStatus);
    return true;
}

bool CChildProcess::Signal(int nSignal) const {
    return IsRunning() && kill(m_nPid, nSignal) == 0;
}

void CChildProcess::Stop(int nGraceMs) {
    if (!IsRunning())
        return;
    Signal(SIGTERM);
    int nWaitStatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nGraceMs);
    while (waitpid(m_nPid, &nWaitStatus, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(m_nPid, SIGKILL);
            waitpid(m_nPid, &nWaitStatus, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_nStatus = ExitStatus(nWaitStatus);
}
