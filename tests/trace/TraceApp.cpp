// The application the capture tests watch: it runs the steps on its command
// line (words; TEXT may hold \xHH escapes) against a port, a pty slave, one
// after another, and tells on stdout what the test needs to know (pids,
// what it read). The steps are the branches of Run; after await MS, a child
// of pass or take writes once a tracer holds it (or MS ms passed).
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/aio_abi.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

int g_hPort = -1;
int g_nAwaitTracerMs = 0;

std::string Unescape(const std::string& strText) {
    std::string strOut;
    for (std::size_t i = 0; i < strText.size(); ++i) {
        const bool bEscape = strText.compare(i, 2, "\\x") == 0 && i + 3 < strText.size();
        strOut += bEscape ? char(std::stoi(strText.substr(i + 2, 2), nullptr, 16)) : strText[i];
        i += bEscape ? 3 : 0;
    }
    return strOut;
}

void Check(bool bDone, const std::string& strWhat) {
    if (bDone)
        return;
    std::cerr << "trace_app: " << strWhat << ": " << std::strerror(errno) << std::endl;
    std::exit(1);
}

void WriteAll(const std::string& strText) {
    Check(write(g_hPort, strText.data(), strText.size()) == ssize_t(strText.size()), "write");
}

// Raw mode, nothing else, with the given rate and frame ("8N1", "7E1", "8O2",
// "8M1", "5S2"), as tcsetattr(TCSADRAIN) sends it; a rate without a Bxxx code
// goes as pyserial sends it: BOTHER through the old request first, then termios2.
void Set(unsigned int nRate, const std::string& strMode) {
    struct termios2 tio {};
    const std::map<unsigned int, tcflag_t> codes{
        {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
    const auto code = codes.find(nRate);
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    const tcflag_t parities[] = {0, PARENB, PARENB | PARODD, PARENB | PARODD | CMSPAR,
                                 PARENB | CMSPAR}; // N E O M S
    tio.c_cc[VMIN] = 1;
    tio.c_cflag = CREAD | CLOCAL | sizes[strMode[0] - '5'] |
                  parities[std::string("NEOMS").find(strMode[1])] |
                  (strMode[2] == '2' ? CSTOPB : 0) | (code == codes.end() ? BOTHER : code->second);
    tio.c_ispeed = tio.c_ospeed = nRate;
    Check(syscall(SYS_ioctl, g_hPort, TCSETSW, &tio) == 0 &&
              (code != codes.end() || syscall(SYS_ioctl, g_hPort, TCSETSW2, &tio) == 0),
          "TCSETS");
}

// Reads n bytes, in one call into two halves (readv) or until they are all
// there; a signal handler's EINTR ends it early.
void Read(std::size_t n, bool bVectors) {
    std::string strGot(n, '\0');
    std::size_t nDone = 0;
    if (bVectors) {
        // One call must fill both halves: wait until everything is there.
        for (int nQueued = 0;
             syscall(SYS_ioctl, g_hPort, FIONREAD, &nQueued) == 0 && nQueued < int(n);)
            usleep(1000);
        iovec vectors[2] = {{strGot.data(), n / 2}, {strGot.data() + n / 2, n - n / 2}};
        Check(readv(g_hPort, vectors, 2) == ssize_t(n), "readv");
        nDone = n;
    }
    while (nDone < n) {
        const ssize_t nRead = read(g_hPort, strGot.data() + nDone, n - nDone);
        if (nRead < 0 && errno == EINTR)
            break;
        Check(nRead > 0, "read");
        nDone += std::size_t(nRead);
    }
    std::cout << (nDone < n ? "read:EINTR" : "read:" + strGot) << std::endl;
}

bool IsTraced() {
    std::ifstream status("/proc/self/status");
    const std::string strStatus{std::istreambuf_iterator<char>(status), {}};
    return strStatus.find("TracerPid:\t0\n") == std::string::npos;
}

// A child that holds no fd of the port gets one without opening it, over
// a unix socket or with pidfd_getfd, once told to, and writes strText.
void WriteFromChild(const std::string& strText, bool bPassed) {
    int sockets[2];
    Check(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sockets) == 0, "socketpair");
    const int hParent = int(syscall(SYS_pidfd_open, getpid(), 0)), hPort = g_hPort;
    char byData = 0;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    iovec vector = {&byData, 1};
    msghdr message{nullptr, 0, &vector, 1, control, bPassed ? sizeof control : 0, 0};
    if (bPassed) {
        *CMSG_FIRSTHDR(&message) = {CMSG_LEN(sizeof(int)), SOL_SOCKET, SCM_RIGHTS};
        std::memcpy(CMSG_DATA(CMSG_FIRSTHDR(&message)), &hPort, sizeof(int));
    }
    const pid_t nChild = fork();
    if (nChild == 0) {
        close(hPort);
        Check(recvmsg(sockets[1], &message, 0) == 1, "recvmsg");
        if (bPassed)
            std::memcpy(&g_hPort, CMSG_DATA(CMSG_FIRSTHDR(&message)), sizeof(int));
        else
            g_hPort = int(syscall(SYS_pidfd_getfd, hParent, hPort, 0));
        Check(g_hPort >= 0, "the port's fd");
        for (int i = 0; i < g_nAwaitTracerMs && !IsTraced(); ++i)
            usleep(1'000);
        WriteAll(strText);
        _exit(0);
    }
    std::cout << (bPassed ? "passed:" : "taken:") << nChild << std::endl;
    Check(sendmsg(sockets[0], &message, 0) == 1, "sendmsg");
    waitpid(nChild, nullptr, 0);
    for (const int hFd : {sockets[0], sockets[1], hParent})
        close(hFd);
}

void Run(std::vector<std::string> steps, const char* pSelf) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const std::string& strStep = steps[i];
        auto next = [&] { return i + 1 < steps.size() ? steps[++i] : std::string(); };
        if (strStep == "open") {
            g_hPort = open(next().c_str(), O_RDWR | O_NOCTTY);
            Check(g_hPort >= 0, "open");
        } else if (strStep == "usefd") {
            g_hPort = std::stoi(next());
        } else if (strStep == "set") {
            const unsigned int nRate = unsigned(std::stoul(next()));
            Set(nRate, next());
        } else if (strStep == "ioctl") {
            // A control call, refused or not: REQUEST VALUE (the modem
            // lines' value is passed by address; "bad" is an address
            // nothing is mapped at).
            const std::map<std::string, unsigned long> requests{
                {"TCSBRK", TCSBRK},     {"TCSBRKP", TCSBRKP}, {"TIOCSBRK", TIOCSBRK},
                {"TIOCCBRK", TIOCCBRK}, {"TCFLSH", TCFLSH},   {"TCXONC", TCXONC},
                {"TIOCMBIS", TIOCMBIS}, {"TCSETS", TCSETS}};
            const unsigned long nRequest = requests.at(next());
            const std::string strValue = next();
            int nValue = strValue == "bad" ? 0 : std::stoi(strValue);
            syscall(SYS_ioctl, g_hPort, nRequest,
                    strValue == "bad"      ? 1l
                    : nRequest == TIOCMBIS ? long(&nValue)
                                           : long(nValue));
        } else if (strStep == "flow") {
            // Hardware flow control, XOFF on input, then VMIN and VTIME.
            struct termios tio {};
            Check(syscall(SYS_ioctl, g_hPort, TCGETS, &tio) == 0, "TCGETS");
            tio.c_cflag |= CRTSCTS;
            tio.c_iflag = IXOFF;
            tio.c_cc[VMIN] = cc_t(std::stoi(next()));
            tio.c_cc[VTIME] = cc_t(std::stoi(next()));
            Check(syscall(SYS_ioctl, g_hPort, TCSETS, &tio) == 0, "TCSETS");
        } else if (strStep == "write") {
            WriteAll(Unescape(next()));
        } else if (strStep == "big") {
            WriteAll(std::string(std::stoul(next()), 'x'));
        } else if (strStep == "writev") {
            std::string strA = Unescape(next()), strB = Unescape(next());
            iovec vectors[2] = {{strA.data(), strA.size()}, {strB.data(), strB.size()}};
            Check(writev(g_hPort, vectors, 2) == ssize_t(strA.size() + strB.size()), "writev");
        } else if (strStep == "read" || strStep == "readv") {
            Read(std::stoul(next()) * (strStep == "readv" ? 2 : 1), strStep == "readv");
        } else if (strStep == "sendfile" || strStep == "splice") {
            // The text goes to the port from a memfd, or from a pipe.
            const std::string strText = Unescape(next());
            const bool bFile = strStep == "sendfile";
            int hFrom[2] = {memfd_create("text", 0), -1};
            off_t nOffset = 0;
            Check((bFile || pipe(hFrom) == 0) &&
                      write(hFrom[bFile ? 0 : 1], strText.data(), strText.size()) >= 0 &&
                      (bFile ? sendfile(g_hPort, hFrom[0], &nOffset, strText.size())
                             : splice(hFrom[0], nullptr, g_hPort, nullptr, strText.size(), 0)) ==
                          ssize_t(strText.size()),
                  strStep);
        } else if (strStep == "aio") {
            const std::string strText = Unescape(next());
            aio_context_t context = 0;
            iocb request{};
            request.aio_fildes = std::uint32_t(g_hPort);
            request.aio_lio_opcode = IOCB_CMD_PWRITE;
            request.aio_buf = std::uint64_t(std::uintptr_t(strText.data()));
            request.aio_nbytes = strText.size();
            iocb* requests[1] = {&request};
            io_event done{};
            Check(syscall(SYS_io_setup, 1, &context) == 0 &&
                      syscall(SYS_io_submit, context, 1, requests) == 1 &&
                      syscall(SYS_io_getevents, context, 1, 1, &done, nullptr) == 1 &&
                      done.res == std::int64_t(strText.size()),
                  "aio");
            syscall(SYS_io_destroy, context);
        } else if (strStep == "dup2") {
            // "self": /dev/null over the port's only fd, which releases it.
            const std::string strFd = next();
            const int nFd = strFd == "self" ? g_hPort : std::stoi(strFd),
                      hNull = open("/dev/null", O_WRONLY);
            Check(dup2(g_hPort, nFd) == nFd && dup2(hNull, g_hPort) == g_hPort, "dup2");
            close(hNull);
        } else if (strStep == "take-own") {
            const int hPid = int(syscall(SYS_pidfd_open, getpid(), 0));
            g_hPort = int(syscall(SYS_pidfd_getfd, hPid, g_hPort, 0));
            Check(g_hPort >= 0, "pidfd_getfd");
            close(hPid);
        } else if (strStep == "ctty") {
            // The next steps run in a child whose session has the port as
            // its terminal (a group leader cannot start one); the parent
            // holds the port until the child ends, and closes it before it
            // ends, so that no tracer holds it when a leak check runs.
            std::cout.flush();
            const pid_t nChild = fork();
            if (nChild == 0) {
                Check(setsid() > 0 && syscall(SYS_ioctl, g_hPort, TIOCSCTTY, 0) == 0, "TIOCSCTTY");
                continue;
            }
            std::cout << "session:" << nChild << std::endl;
            int nStatus = 0;
            waitpid(nChild, &nStatus, 0);
            close(g_hPort);
            std::exit(WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 1);
        } else if (strStep == "opentty") {
            // The port is reached through /dev/tty alone from now on.
            const int hTty = open("/dev/tty", O_RDWR);
            Check(hTty >= 0, "open /dev/tty");
            close(g_hPort);
            g_hPort = hTty;
        } else if (strStep == "cloexec") {
            Check(fcntl(g_hPort, F_SETFD, FD_CLOEXEC) == 0, "F_SETFD");
        } else if (strStep == "close") {
            close(g_hPort);
        } else if (strStep == "trap-usr1") {
            // A handler without SA_RESTART: a blocking read returns EINTR.
            struct sigaction action {};
            action.sa_handler = [](int) {};
            sigaction(SIGUSR1, &action, nullptr);
        } else if (strStep == "pass" || strStep == "take") {
            WriteFromChild(Unescape(next()), strStep == "pass");
        } else if (strStep == "await") {
            g_nAwaitTracerMs = std::stoi(next());
        } else if (strStep == "say") {
            std::cout << next() << std::endl;
        } else if (strStep == "hear") {
            std::cin.ignore(INT_MAX, '\n');
        } else if (strStep == "threads") {
            const int nThreads = std::stoi(next()), nCount = std::stoi(next());
            std::vector<std::jthread> threads; // joined as they go
            for (int t = 0; t < nThreads; ++t)
                threads.emplace_back([t, nCount] {
                    for (int k = 0; k < nCount; ++k)
                        WriteAll("t" + std::to_string(t) + "." + std::to_string(k) + ";");
                });
        } else if (strStep == "fork") {
            const std::string strParent = Unescape(next()), strChild = Unescape(next());
            const pid_t nChild = fork();
            if (nChild == 0) {
                WriteAll(strChild);
                _exit(0);
            }
            std::cout << "child:" << nChild << std::endl;
            waitpid(nChild, nullptr, 0);
            WriteAll(strParent);
        } else if (strStep == "spawn") {
            // posix_spawn: a vfork-style clone that shares our memory until
            // the child's exec; the child inherits the port fd.
            char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
            pid_t nChild;
            Check(posix_spawn(&nChild, argv[0], nullptr, nullptr, argv, environ) == 0 &&
                      waitpid(nChild, nullptr, 0) == nChild,
                  "posix_spawn");
        } else if (strStep == "vfork-sleep") {
            // The parent waits for the child in the kernel, out of reach of
            // anything but a fatal signal, for that many seconds; another
            // thread of it sleeps where it can stop.
            const unsigned int nSeconds = unsigned(std::stoul(next()));
            std::thread(pause).detach();
            if (vfork() == 0) {
                for (int hFd : {0, 1, 2})
                    close(hFd); // the test waits for the parent's output alone
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                sleep(nSeconds);
                _exit(0);
            }
        } else if (strStep == "exec" || strStep == "thread-exec") {
            std::vector<char*> argv{const_cast<char*>(pSelf)};
            for (++i; i < steps.size(); ++i)
                argv.push_back(steps[i].data());
            argv.push_back(nullptr);
            std::cout.flush();
            // From a second thread, the kernel gives the new image the leader's pid.
            const auto exec = [&] { Check(execv(pSelf, argv.data()) == 0, "execv"); };
            if (strStep == "exec")
                exec();
            std::thread(exec).join();
        } else {
            Check(false, "unknown step " + strStep);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    Run(std::vector<std::string>(argv + 1, argv + argc), "/proc/self/exe");
    return 0;
}
