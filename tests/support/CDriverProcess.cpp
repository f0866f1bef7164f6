#include "CDriverProcess.h"

#include "Records.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

CDriverProcess::CDriverProcess() {
    char szTemplate[] = "/tmp/vantry-test-XXXXXX";
    if (mkdtemp(szTemplate) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_strDir = szTemplate;
    chmod(szTemplate, 0755);
    m_strDevice = m_strDir + "/Vantry";
}

CDriverProcess::~CDriverProcess() {
    Stop();
    std::error_code error;
    std::filesystem::remove_all(m_strDir, error);
}

std::string CDriverProcess::WriteFile(const std::string& strName,
                                      const std::vector<std::uint8_t>& bytes) const {
    const std::string strPath = m_strDir + "/" + strName;
    std::ofstream(strPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return strPath;
}

bool CDriverProcess::Start(const std::vector<std::string>& args, uid_t uid) {
    int ready[2];
    m_hStderr = memfd_create("vantry-stderr", MFD_CLOEXEC);
    if (m_hStderr < 0 || pipe2(ready, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make the driver's streams");
    const std::string strFd = std::to_string(ready[1]);
    std::vector<std::string> argv{VANTRY_SYS_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    m_nPid = fork();
    if (m_nPid == 0) {
        fcntl(ready[1], F_SETFD, 0);
        dup2(m_hStderr, 2);
        setenv("VANTRY_DEVICE", m_strDevice.c_str(), 1);
        setenv("VANTRY_READY_FD", strFd.c_str(), 1);
        if (uid != 0 && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0))
            _exit(127);
        std::vector<char*> pointers;
        for (auto& arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(ready[1]);
    char szLine[8] = {};
    const ssize_t nRead = read(ready[0], szLine, sizeof szLine);
    close(ready[0]);
    if (nRead == 6 && std::string(szLine, 6) == "READY\n")
        return true;
    Stop();
    return false;
}

bool CDriverProcess::StartReplay(const std::vector<std::vector<std::uint8_t>>& records,
                                 std::vector<std::string> extra) {
    extra.insert(extra.begin(),
                 {"--replay", WriteFile("replay.rec", Records::File(records)), "--fast"});
    return Start(extra);
}

int CDriverProcess::Stop() {
    if (m_nPid <= 0)
        return m_nExitStatus;
    kill(m_nPid, SIGTERM);
    int nStatus = 0;
    waitpid(m_nPid, &nStatus, 0);
    m_nPid = -1;
    m_nExitStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    std::ostringstream text;
    text << std::ifstream("/proc/self/fd/" + std::to_string(m_hStderr)).rdbuf();
    m_strStderr = text.str();
    close(m_hStderr);
    m_hStderr = -1;
    return m_nExitStatus;
}

int CDriverProcess::ThreadCount() const {
    const std::string strTasks = "/proc/" + std::to_string(m_nPid) + "/task";
    return int(std::distance(std::filesystem::directory_iterator(strTasks), {}));
}

void CDriverProcess::UseForThisProcess() const {
    setenv("VANTRY_DEVICE", m_strDevice.c_str(), 1);
}
