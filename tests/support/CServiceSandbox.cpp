#include "CServiceSandbox.h"

#include "DriverDevice.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

void CServiceSandbox::SetUp() {
    // Daemons are orphaned on purpose; here they come back to the test to be
    // reaped, instead of piling up as zombies under an init that may not reap.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    char szTemplate[] = "/tmp/wirelet-scm-XXXXXX";
    ASSERT_NE(mkdtemp(szTemplate), nullptr);
    m_strDirectory = szTemplate;
    m_strDatabase = m_strDirectory + "/scm/ServicesActive";
    m_strDevice = m_strDirectory + "/Vantry";
    m_strProgramDirectory = m_strDirectory + "/program";
    std::filesystem::create_directory(m_strProgramDirectory);
    setenv(CServiceManager::ROOT_VARIABLE, (m_strDirectory + "/scm").c_str(), 1);
    setenv("VANTRY_DEVICE", m_strDevice.c_str(), 1);
}

void CServiceSandbox::TearDown() {
    g_hDevice.Close();
    setenv(CServiceManager::ROOT_VARIABLE, (m_strDirectory + "/scm").c_str(), 1);
    const CServiceManager manager = Manager();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(m_strDatabase, error))
        manager.OpenService(entry.path().filename(), Scm::SERVICE_STOP)
            .Control(Scm::SERVICE_CONTROL_STOP);
    std::filesystem::remove_all(m_strDirectory, error);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

std::string CServiceSandbox::WriteScript(const std::string& strName,
                                         const std::string& strBody) const {
    const std::string strPath = m_strDirectory + "/" + strName;
    std::ofstream(strPath) << "#!/bin/sh\n" << strBody << "\n";
    chmod(strPath.c_str(), 0755);
    return strPath;
}
