// Start-up as the program runs it, over the real service manager in a
// sandbox: the order of its steps, and how each outcome of the platform
// check and of the driver ends or continues it.
#include "CMainFrame.h"
#include "CMessageBox.h"
#include "CPortToolBar.h"
#include "CServiceSandbox.h"
#include "CWireletApp.h"
#include "DriverDevice.h"

#include <QStatusBar>

#include <filesystem>

namespace {

// Only what cannot happen for real here: another kernel, and three seconds
// of splash in every test.
class CStartupApp : public CWireletApp {
public:
    std::string m_strPlatform = "Linux";
    std::string m_strProgramDirectory;
    std::vector<std::string> m_steps;

protected:
    std::string GetProgramDirectory() const override { return m_strProgramDirectory; }
    void ShowSplash(int nMilliseconds) override {
        m_steps.push_back("splash " + std::to_string(nMilliseconds) +
                          (AfxGetMainFrame() == nullptr ? " before the frame" : ""));
    }
    std::string GetPlatformName() const override {
        const bool bShown = AfxGetMainFrame() != nullptr && AfxGetMainFrame()->isVisible();
        const_cast<CStartupApp*>(this)->m_steps.push_back(
            std::string("platform check") + (bShown ? ", frame shown" : "") +
            (g_hDevice.IsOpen() ? ", device open" : ""));
        return m_strPlatform;
    }
};

class StartupTest : public CServiceSandbox {
protected:
    void SetUp() override {
        CServiceSandbox::SetUp();
        m_box.m_messages.clear();
        SetAfxMessages(&m_box);
        // No port map at all: the program comes up with an empty list.
        setenv("WIRELET_SERIALCOMM", (m_strDirectory + "/missing-map").c_str(), 1);
    }
    void TearDown() override {
        if (m_pApp) {
            m_pApp->ExitInstance();
            m_pApp.reset();
        }
        SetAfxMessages(nullptr);
        CServiceSandbox::TearDown();
    }

    bool Start(const QStringList& arguments = {}, const std::string& strPlatform = "Linux") {
        m_pApp = std::make_unique<CStartupApp>();
        m_pApp->m_strPlatform = strPlatform;
        m_pApp->m_strProgramDirectory = m_strProgramDirectory;
        return m_pApp->InitInstance(arguments);
    }

    CRecordingMessageBox m_box;
    std::unique_ptr<CStartupApp> m_pApp;
};

const std::string NEW_SERVICE_FAILED = "不能启动设备，驱动可能未被发现。";
const std::string WRONG_PLATFORM = "本程序只能运行在 Linux 平台！";

TEST_F(StartupTest, StepsRunInOrderAndTheDriverComesLast) {
    std::filesystem::create_symlink(VANTRY_SYS_PATH, m_strProgramDirectory + "/vantry.sys");
    // A file and a print switch on the command line change nothing.
    ASSERT_TRUE(Start({"wirelet", m_strProgramDirectory.c_str(), "/p", "/dde"}));
    EXPECT_EQ(m_pApp->m_steps, std::vector<std::string>({"splash 3000 before the frame",
                                                         "platform check, frame shown"}));
    EXPECT_TRUE(g_hDevice.IsOpen());
    EXPECT_TRUE(m_box.m_messages.empty());
    EXPECT_TRUE(m_pApp->GetMainFrame()->statusBar()->currentMessage().startsWith(
        "driver: capturing with "));
    EXPECT_EQ(m_pApp->GetMainFrame()->GetPortToolBar().m_wndPortCombo->count(), 0)
        << "an unreadable port map gives an empty list";
}

// Without a driver beside the program, or on another kernel, start-up ends
// after its one message; which message each failed driver start gives is
// DriverServiceTest's.
TEST_F(StartupTest, NoDriverOrAnotherKernelEndsStartUp) {
    EXPECT_FALSE(Start());
    EXPECT_EQ(m_box.m_messages, std::vector<std::string>{NEW_SERVICE_FAILED});
    TearDown();
    SetUp();
    std::filesystem::create_symlink(VANTRY_SYS_PATH, m_strProgramDirectory + "/vantry.sys");
    EXPECT_FALSE(Start({}, "Windows_NT"));
    EXPECT_EQ(m_box.m_messages, std::vector<std::string>{WRONG_PLATFORM});
    EXPECT_FALSE(g_hDevice.IsOpen());
}

} // namespace
