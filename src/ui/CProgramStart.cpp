#include "CProgramStart.h"

#include "CScopedFd.h"
#include "WriteAll.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace {

// What the watcher process reports through the pipe.
struct CReport {
    std::int32_t nKind;
    std::int32_t nValue;
};

// Looked up before fork: the child may not allocate.
std::string ResolveProgram(const std::string& strName) {
    if (strName.find('/') != std::string::npos)
        return strName;
    const char* pszPath = std::getenv("PATH");
    std::istringstream path(pszPath ? pszPath : "/usr/local/bin:/usr/bin:/bin");
    std::string strDir;
    while (std::getline(path, strDir, ':')) {
        const std::string strCandidate = (strDir.empty() ? "." : strDir) + "/" + strName;
        struct stat st {};
        if (stat(strCandidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(strCandidate.c_str(), X_OK) == 0)
            return strCandidate;
    }
    return {};
}

// Between fork and exec: only async-signal-safe calls.
[[noreturn]] void ReportAndExit(int hReport, std::int32_t nKind, std::int32_t nValue) {
    const CReport report{nKind, nValue};
    WriteAll(hReport, &report, sizeof report);
    _exit(127);
}

[[noreturn]] void Exec(const char* pszPath, char* const* argv, int hReport) {
    execve(pszPath, argv, environ);
    ReportAndExit(hReport, CProgramOutcome::EXEC_FAILED, errno);
}

[[noreturn]] void Watch(const char* pszPath, char* const* argv, int hReport, bool bAwaitExit) {
    sigset_t empty;
    sigemptyset(&empty);
    sigprocmask(SIG_SETMASK, &empty, nullptr);
    // The program must not inherit this one's windows, sockets or device.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    if (!bAwaitExit)
        Exec(pszPath, argv, hReport);
    const pid_t nProgram = fork();
    if (nProgram < 0)
        ReportAndExit(hReport, CProgramOutcome::FAILED, errno);
    if (nProgram == 0)
        Exec(pszPath, argv, hReport);
    int nStatus = 0;
    while (waitpid(nProgram, &nStatus, 0) < 0 && errno == EINTR) {
    }
    ReportAndExit(hReport, CProgramOutcome::EXITED,
                  WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus));
}

} // namespace

CProgramOutcome CProgramStart::Start(const std::vector<std::string>& vecArgs) {
    return Launch(vecArgs, false, 0);
}

CProgramOutcome CProgramStart::Run(const std::vector<std::string>& vecArgs, int nTimeoutMs) {
    return Launch(vecArgs, true, nTimeoutMs);
}

CProgramOutcome CProgramStart::Launch(const std::vector<std::string>& vecArgs, bool bAwaitExit,
                                      int nTimeoutMs) {
    if (vecArgs.empty())
        return {CProgramOutcome::EXEC_FAILED, ENOENT};
    const std::string strPath = ResolveProgram(vecArgs.front());
    if (strPath.empty())
        return {CProgramOutcome::EXEC_FAILED, ENOENT};
    std::vector<char*> argv;
    for (const std::string& strArg : vecArgs)
        argv.push_back(const_cast<char*>(strArg.c_str()));
    argv.push_back(nullptr);

    int hPipe[2];
    if (pipe2(hPipe, O_CLOEXEC) != 0)
        return {CProgramOutcome::FAILED, errno};
    CScopedFd reportRead(hPipe[0]), reportWrite(hPipe[1]);

    // The middle process leaves at once, so the watcher (and the program)
    // become the init process's children, not ours.
    const pid_t nMiddle = fork();
    if (nMiddle < 0)
        return {CProgramOutcome::FAILED, errno};
    if (nMiddle == 0) {
        const pid_t nWatcher = fork();
        if (nWatcher == 0)
            Watch(strPath.c_str(), argv.data(), reportWrite.Get(), bAwaitExit);
        _exit(nWatcher < 0 ? 1 : 0);
    }
    int nMiddleStatus = 0;
    while (waitpid(nMiddle, &nMiddleStatus, 0) < 0 && errno == EINTR) {
    }
    reportWrite.Reset();
    if (!WIFEXITED(nMiddleStatus) || WEXITSTATUS(nMiddleStatus) != 0)
        return {CProgramOutcome::FAILED, EAGAIN};

    // A report, or the end of the pipe when the program was executed and
    // no wait was asked for.
    CReport report{};
    std::size_t nReceived = 0;
    while (nReceived < sizeof report) {
        pollfd fd{reportRead.Get(), POLLIN, 0};
        const int nReady = poll(&fd, 1, bAwaitExit ? nTimeoutMs : -1);
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady <= 0)
            return {CProgramOutcome::STARTED, 0};
        const ssize_t n = read(reportRead.Get(), reinterpret_cast<char*>(&report) + nReceived,
                               sizeof report - nReceived);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {CProgramOutcome::STARTED, 0};
        nReceived += std::size_t(n);
    }
    return {static_cast<CProgramOutcome::EKind>(report.nKind), report.nValue};
}
