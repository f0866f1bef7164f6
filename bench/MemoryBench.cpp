// What other users can make a driver hold. Each uid given attaches 64 times
// to its own pty and never fetches, while a process of its own writes 20 MiB
// to the pty; the driver's resident size is read before, once the writing
// is done, and after the users' connections closed. Run it as root in a
// private PID namespace, so the driver traces nothing outside it:
//     unshare --pid --fork --mount-proc bench_memory [VANTRY_SYS] [UID...]
#include "CVantryDevice.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t WRITTEN = 20u << 20, CHUNK = 64u << 10;
constexpr int ATTACHMENTS = 64;

std::string Status(pid_t nPid) {
    std::ifstream status("/proc/" + std::to_string(nPid) + "/status");
    std::string strLine, strRss, strHwm;
    while (std::getline(status, strLine)) {
        if (strLine.rfind("VmRSS:", 0) == 0)
            strRss = strLine.substr(6);
        else if (strLine.rfind("VmHWM:", 0) == 0)
            strHwm = strLine.substr(6);
    }
    return "VmRSS" + strRss + "   VmHWM" + strHwm;
}

// As uid: the attachments and the writing; then waits for a byte on hGo.
int Attack(const std::string& strDevice, uid_t uid, int hDone, int hGo) {
    const gid_t gid = uid;
    if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
        setresuid(uid, uid, uid) != 0)
        return 1;
    const int hMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (hMaster < 0 || grantpt(hMaster) != 0 || unlockpt(hMaster) != 0)
        return 2;
    const std::string strSlave = ptsname(hMaster);
    int go[2];
    if (pipe(go) != 0)
        return 3;
    const pid_t nWriter = fork();
    if (nWriter == 0) {
        const int hSlave = open(strSlave.c_str(), O_RDWR | O_NOCTTY);
        termios settings{};
        tcgetattr(hSlave, &settings);
        cfmakeraw(&settings);
        tcsetattr(hSlave, TCSANOW, &settings);
        char c;
        if (hSlave < 0 || read(go[0], &c, 1) != 1)
            _exit(1);
        const std::vector<char> chunk(CHUNK, 'x');
        for (std::size_t n = 0; n < WRITTEN; n += CHUNK)
            if (write(hSlave, chunk.data(), CHUNK) != ssize_t(CHUNK))
                _exit(1);
        _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the writer opened the pty
    CVantryDevice device;
    CAttachHandle hAttach;
    if (device.Open(strDevice) != 0)
        return 4;
    for (int i = 0; i < ATTACHMENTS; ++i)
        if (device.Attach(strSlave, hAttach) != 0)
            return 5;
    if (write(go[1], "g", 1) != 1)
        return 6;
    std::vector<char> buffer(CHUNK);
    for (std::size_t nRead = 0; nRead < WRITTEN;) {
        const ssize_t n = read(hMaster, buffer.data(), buffer.size());
        if (n <= 0)
            return 7;
        nRead += std::size_t(n);
    }
    int nStatus = 0;
    waitpid(nWriter, &nStatus, 0);
    char c = 'd';
    if (write(hDone, &c, 1) != 1 || read(hGo, &c, 1) != 1)
        return 8;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string strDriver = argc > 1 ? argv[1] : VANTRY_SYS_PATH;
    std::vector<uid_t> uids;
    for (int i = 2; i < argc; ++i)
        uids.push_back(uid_t(std::stoul(argv[i])));
    if (uids.empty())
        uids.push_back(65534);
    char szDir[] = "/tmp/vantry-memory-XXXXXX";
    if (mkdtemp(szDir) == nullptr || chmod(szDir, 0755) != 0)
        return 1;
    const std::string strDevice = std::string(szDir) + "/Vantry";
    int ready[2], done[2], go[2];
    if (pipe(ready) != 0 || pipe(done) != 0 || pipe(go) != 0)
        return 1;
    const pid_t nDriver = fork();
    if (nDriver == 0) {
        dup2(ready[1], 3);
        dup2(open("/dev/null", O_WRONLY), 2); // its log of every attach
        setenv("VANTRY_DEVICE", strDevice.c_str(), 1);
        setenv("VANTRY_READY_FD", "3", 1);
        execl(strDriver.c_str(), strDriver.c_str(), nullptr);
        _exit(127);
    }
    close(ready[1]);
    char szReady[8] = {};
    if (read(ready[0], szReady, sizeof szReady) <= 0)
        return 1;
    std::printf("driver %s, users", strDriver.c_str());
    for (const uid_t uid : uids)
        std::printf(" %u", uid);
    std::printf("\n  started:         %s\n", Status(nDriver).c_str());
    std::vector<pid_t> users;
    for (const uid_t uid : uids) {
        const pid_t nUser = fork();
        if (nUser == 0)
            _exit(Attack(strDevice, uid, done[1], go[0]));
        users.push_back(nUser);
    }
    for (std::size_t i = 0; i < users.size(); ++i) {
        char c;
        if (read(done[0], &c, 1) != 1)
            return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::printf("  written:         %s\n", Status(nDriver).c_str());
    int nFailed = 0;
    for (std::size_t i = 0; i < users.size(); ++i)
        if (write(go[1], "c", 1) != 1)
            return 1;
    for (const pid_t nUser : users) {
        int nStatus = 0;
        if (waitpid(nUser, &nStatus, 0) != nUser || nStatus != 0) {
            std::printf("  a user failed: status %d\n", nStatus);
            ++nFailed;
        }
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    int nStatus = 0;
    if (waitpid(nDriver, &nStatus, WNOHANG) == nDriver) {
        std::printf("  the driver ended: status %d\n", nStatus);
        return 1;
    }
    std::printf("  users gone:      %s\n", Status(nDriver).c_str());
    kill(nDriver, SIGTERM);
    waitpid(nDriver, nullptr, 0);
    rmdir(szDir);
    return nFailed != 0;
}
