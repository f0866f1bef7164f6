#include "CServiceSandbox.h"

#include "CServiceManager.h"
#include "RunAs.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

void CServiceSandbox::SetUp() {
    // Daemons are orphaned on purpose; here they come back to the test to be
    // reaped, instead of piling up as zombies under an init that may not reap.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    char szTemplate[] = "/tmp/wirelet-scm-XXXXXX";
    ASSERT_NE(mkdtemp(szTemplate), nullptr);
    m_strDirectory = szTemplate;
    m_strDatabase = m_strDirectory + "/scm/ServicesActive";
    m_strDevice = m_strDirectory + "/Vantry";
    m_strCurrent = m_strDirectory + "/current";
    std::filesystem::create_directory(m_strCurrent);
    setenv(CServiceManager::ROOT_VARIABLE, (m_strDirectory + "/scm").c_str(), 1);
    setenv("VANTRY_DEVICE", m_strDevice.c_str(), 1);
    m_strOldCurrent = std::filesystem::current_path();
    ASSERT_EQ(chdir(m_strCurrent.c_str()), 0);
}

void CServiceSandbox::TearDown() {
    ASSERT_EQ(chdir(m_strOldCurrent.c_str()), 0);
    std::error_code error;
    if (std::filesystem::is_directory(m_strDatabase, error)) {
        setenv(CServiceManager::ROOT_VARIABLE, (m_strDirectory + "/scm").c_str(), 1);
        CServiceManager manager = CServiceManager::Open(nullptr, Scm::SERVICES_ACTIVE_DATABASE,
                                                        Scm::SC_MANAGER_ALL_ACCESS);
        for (const auto& entry : std::filesystem::directory_iterator(m_strDatabase, error)) {
            CService service = manager.OpenService(entry.path().filename(), Scm::SERVICE_STOP);
            if (service.IsValid())
                service.Control(Scm::SERVICE_CONTROL_STOP);
        }
    }
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

std::string CServiceSandbox::ReadyWithoutDevice(const std::string& strName) const {
    return WriteScript(strName, "printf 'READY\\n' >&$VANTRY_READY_FD\nexec sleep 30");
}

CChildResult RunAsNobody(const std::function<int(IMessageBox&)>& function) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    CChildResult result;
    result.nExitStatus = RunAs(NOBODY, {}, [&] {
        close(pipeFds[0]);
        CRecordingMessageBox messages;
        const int nStatus = function(messages);
        for (const auto& strMessage : messages.m_messages) {
            const std::string strLine = strMessage + "\n";
            if (write(pipeFds[1], strLine.data(), strLine.size()) < 0)
                return 253;
        }
        return nStatus;
    });
    close(pipeFds[1]);
    std::string strText;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        strText.append(buffer, std::size_t(n));
    close(pipeFds[0]);
    std::istringstream lines(strText);
    for (std::string strLine; std::getline(lines, strLine);)
        result.messages.push_back(strLine);
    return result;
}
