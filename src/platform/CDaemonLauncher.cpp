#include "CDaemonLauncher.h"

#include "CScopedFd.h"
#include "RootOnlyPath.h"
#include "WriteAll.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

constexpr std::string_view READY_LINE = "READY\n";
constexpr int TERMINATE_TIMEOUT_MS = 1000;

// Descriptors 0 to 2 are about to be replaced in the daemon, so nothing it
// needs may live there (a program started with a closed stdin would get its
// first pipe at 0).
int AboveStdio(CScopedFd& fd) {
    if (fd.Get() >= 0 && fd.Get() <= 2)
        fd.Reset(fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3));
    return fd.Get();
}

std::int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Runs in the daemon between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecDaemon(const char* pszImage, char* const* argv, char* const* envp, int nNull,
                             int nLog, int nReady, int nStatus) {
    dup2(nNull, 0);
    dup2(nNull, 1);
    dup2(nLog, 2);
    const rlimit fileSize{CDaemonLauncher::LOG_LIMIT, CDaemonLauncher::LOG_LIMIT};
    setrlimit(RLIMIT_FSIZE, &fileSize); // under a lower hard limit, that one holds
    // Whatever else the program holds open (the device, windows' sockets)
    // must not keep living in the daemon.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    fcntl(nReady, F_SETFD, 0);
    sigset_t empty;
    sigemptyset(&empty);
    sigprocmask(SIG_SETMASK, &empty, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int nSignal = 1; nSignal < NSIG; ++nSignal)
        sigaction(nSignal, &byDefault, nullptr);
    if (chdir("/") != 0) {
        // Staying in the caller's directory is harmless.
    }
    const std::int32_t nPid = getpid();
    WriteAll(nStatus, &nPid, sizeof nPid);
    execve(pszImage, argv, envp);
    const std::int32_t nError = errno;
    WriteAll(nStatus, &nError, sizeof nError);
    _exit(127);
}

// Each start leaves at most one earlier log beside the current one.
void RotateLog(const std::string& strLogPath) {
    struct stat st {};
    if (lstat(strLogPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        std::uint64_t(st.st_size) >= CDaemonLauncher::LOG_ROTATE_SIZE)
        rename(strLogPath.c_str(), (strLogPath + ".1").c_str());
}

// 0 once the daemon has reported ready; why not otherwise.
int AwaitReady(int nReadFd, int nTimeoutMs) {
    const std::int64_t qwDeadline = NowMs() + nTimeoutMs;
    std::string strReceived;
    while (strReceived.size() < READY_LINE.size()) {
        const std::int64_t qwLeft = qwDeadline - NowMs();
        if (qwLeft <= 0)
            return ETIMEDOUT;
        pollfd fd{nReadFd, POLLIN, 0};
        const int nReady = poll(&fd, 1, int(qwLeft));
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady < 0)
            return errno;
        if (nReady == 0)
            return ETIMEDOUT;
        char buffer[16];
        const ssize_t n = read(nReadFd, buffer, READY_LINE.size() - strReceived.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return ECHILD; // exited, or closed the descriptor without a word
        strReceived.append(buffer, std::size_t(n));
    }
    return strReceived == READY_LINE ? 0 : EPROTO;
}

} // namespace

CDaemonStart CDaemonLauncher::Start(const std::string& strImage,
                                    const std::string& strLogPath) const {
    struct stat st {};
    if (stat(strImage.c_str(), &st) != 0)
        return {errno, {}};
    if (!S_ISREG(st.st_mode))
        return {EACCES, {}};
    if (faccessat(AT_FDCWD, strImage.c_str(), X_OK, AT_EACCESS) != 0)
        return {errno, {}};
    // The daemon runs with our rights: as root, an image that another user
    // could have put there or changed since it was installed is not run.
    if (geteuid() == 0)
        if (const int nError = CheckRootOnlyPath(strImage))
            return {nError, {}};

    CScopedFd nullFd(open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!nullFd.IsValid())
        return {errno, {}};
    RotateLog(strLogPath);
    CScopedFd logFd(
        open(strLogPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!logFd.IsValid())
        logFd.Reset(fcntl(nullFd.Get(), F_DUPFD_CLOEXEC, 3));
    int ready[2], status[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return {errno, {}};
    CScopedFd readyRead(ready[0]), readyWrite(ready[1]);
    if (pipe2(status, O_CLOEXEC) != 0)
        return {errno, {}};
    CScopedFd statusRead(status[0]), statusWrite(status[1]);
    for (CScopedFd* pFd : {&nullFd, &logFd, &readyWrite, &statusWrite})
        if (AboveStdio(*pFd) < 0)
            return {errno, {}};

    // Everything the daemon needs is built before fork: the program may have
    // other threads, and the child may not allocate.
    const std::string strReadyVariable =
        std::string(READY_FD_VARIABLE) + "=" + std::to_string(readyWrite.Get());
    std::vector<char*> envp;
    for (char** p = environ; *p; ++p)
        if (std::strncmp(*p, READY_FD_VARIABLE, std::strlen(READY_FD_VARIABLE)) != 0 ||
            (*p)[std::strlen(READY_FD_VARIABLE)] != '=')
            envp.push_back(*p);
    envp.push_back(const_cast<char*>(strReadyVariable.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(strImage.c_str()), nullptr};

    // Forking twice leaves the daemon without a session leader's right to
    // acquire a terminal, and makes it nobody's child in this program.
    const pid_t nMiddle = fork();
    if (nMiddle < 0)
        return {errno, {}};
    if (nMiddle == 0) {
        setsid();
        const pid_t nDaemon = fork();
        if (nDaemon == 0)
            ExecDaemon(strImage.c_str(), argv, envp.data(), nullFd.Get(), logFd.Get(),
                       readyWrite.Get(), statusWrite.Get());
        if (nDaemon < 0) {
            const std::int32_t report[2] = {0, errno};
            WriteAll(statusWrite.Get(), report, sizeof report);
        }
        _exit(0);
    }
    readyWrite.Reset();
    statusWrite.Reset();
    while (waitpid(nMiddle, nullptr, 0) < 0 && errno == EINTR) {
    }

    // The daemon's pid, then the errno of a failed exec when there is one.
    std::int32_t report[2] = {0, 0};
    std::size_t nGot = 0;
    while (nGot < sizeof report) {
        const ssize_t n =
            read(statusRead.Get(), reinterpret_cast<char*>(report) + nGot, sizeof report - nGot);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        nGot += std::size_t(n);
    }
    if (nGot < sizeof(std::int32_t) || report[0] <= 0 || nGot == sizeof report)
        return {report[1] ? report[1] : ECHILD, {}};

    const auto identity = CProcessIdentity::Of(report[0]);
    if (!identity)
        return {ECHILD, {}};
    const int nError = AwaitReady(readyRead.Get(), m_nReadyTimeoutMs);
    if (nError != 0) {
        identity->Terminate(TERMINATE_TIMEOUT_MS, TERMINATE_TIMEOUT_MS);
        return {nError, {}};
    }
    return {0, *identity};
}
