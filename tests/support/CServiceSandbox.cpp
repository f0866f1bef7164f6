#include "CServiceSandbox.h"

#include "CServiceManager.h"
#include "RunAs.h"

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

CChildResult RunAsNobody(const std::function<int(IMessageBox&)>& function) {
    const int hMessages = memfd_create("messages", MFD_CLOEXEC);
    CChildResult result;
    result.nExitStatus = RunAs(NOBODY, {}, [&] {
        CRecordingMessageBox messages;
        const int nStatus = function(messages);
        for (const auto& strMessage : messages.m_messages)
            if (dprintf(hMessages, "%s\n", strMessage.c_str()) < 0)
                return 253;
        return nStatus;
    });
    std::ifstream lines("/proc/self/fd/" + std::to_string(hMessages));
    for (std::string strLine; std::getline(lines, strLine);)
        result.messages.push_back(strLine);
    close(hMessages);
    return result;
}
