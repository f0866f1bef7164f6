#include "CDriverProcess.h"

#include "Records.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

CDriverProcess::CDriverProcess() : m_strBinary(VANTRY_SYS_PATH) {
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
    // Readiness comes on the driver's stdout, which it closes afterwards.
    std::vector<std::string> argv{"/usr/bin/setpriv", "--pdeathsig", "KILL"};
    if (uid != 0)
        argv.insert(argv.end(), {"--reuid", std::to_string(uid), "--regid", std::to_string(uid),
                                 "--clear-groups"});
    // Started with SIGCHLD ignored, as a careless parent may leave it: the
    // driver must hear of its tracees all the same.
    argv.insert(argv.end(), {"/usr/bin/env", "--ignore-signal=CHLD", "VANTRY_DEVICE=" + m_strDevice,
                             "VANTRY_READY_FD=1", m_strBinary});
    argv.insert(argv.end(), args.begin(), args.end());
    m_pChild = std::make_unique<CChild>(argv);
    if (m_pChild->WaitLine("READY", false, 10s) == "READY")
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
    if (!m_pChild)
        return m_nExitStatus;
    m_pChild->Kill(SIGTERM);
    m_nExitStatus = m_pChild->Wait();
    m_strStderr = m_pChild->Err();
    m_pChild.reset();
    return m_nExitStatus;
}

int CDriverProcess::ThreadCount() const {
    const std::string strTasks = "/proc/" + std::to_string(Pid()) + "/task";
    return int(std::distance(std::filesystem::directory_iterator(strTasks), {}));
}
