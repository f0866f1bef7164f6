// A private world for tests of the service manager and the driver
// procedures: a temporary service database (WIRELET_SCM_ROOT), device path
// (VANTRY_DEVICE) and program directory, which holds the driver image.
// Whatever a test left running is stopped when it ends, so no daemon outlives
// its test.
#pragma once

#include "CRecordingMessageBox.h"
#include "CServiceManager.h"

#include <gtest/gtest.h>

#include <string>

class CServiceSandbox : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static CServiceManager Manager(const CServiceTimeouts& timeouts = {}) {
        return CServiceManager::Open(nullptr, Scm::SERVICES_ACTIVE_DATABASE,
                                     Scm::SC_MANAGER_ALL_ACCESS, timeouts);
    }
    // Writes an executable shell script (the body follows "#!/bin/sh").
    std::string WriteScript(const std::string& strName, const std::string& strBody) const;

    std::string m_strDirectory; // the sandbox; removed afterwards
    std::string m_strDatabase;  // <root>/ServicesActive
    std::string m_strDevice;
    std::string m_strProgramDirectory; // where the program's files would sit
};
