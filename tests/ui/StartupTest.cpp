// Start-up as the program runs it, over the real service manager in a
// sandbox: the order of its steps, and how each outcome of the platform
// check and of the driver ends or continues it.
#include "CMainFrame.h"
#include "CMessageBox.h"
#include "CMultiDocTemplate.h"
#include "CPortToolBar.h"
#include "CServiceSandbox.h"
#include "CWireletApp.h"
#include "DriverDevice.h"
#include "DriverService.h"

#include <QMdiArea>

#include <filesystem>
#include <fstream>

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
        g_hDevice.Close();
        SetAfxMessages(nullptr);
        CServiceSandbox::TearDown();
    }

    bool Start(const QStringList& arguments = {}) {
        m_pApp = std::make_unique<CStartupApp>();
        m_pApp->m_strPlatform = m_strPlatform;
        m_pApp->m_strProgramDirectory = m_strProgramDirectory;
        return m_pApp->InitInstance(arguments);
    }

    std::string m_strPlatform = "Linux";
    CRecordingMessageBox m_box;
    std::unique_ptr<CStartupApp> m_pApp;
};

const std::string NEW_SERVICE_FAILED = "不能启动设备，驱动可能未被发现。";
const std::string START_FAILED = "发生未知错误，驱动可能丢失。";
const std::string WRONG_PLATFORM = "本程序只能运行在 Linux 平台！";

TEST_F(StartupTest, StepsRunInOrderAndTheDriverComesLast) {
    std::filesystem::create_symlink(VANTRY_SYS_PATH, m_strProgramDirectory + "/vantry.sys");
    // A file and a print switch on the command line change nothing.
    ASSERT_TRUE(Start({"wirelet", m_strProgramDirectory.c_str(), "/p", "/dde"}));
    EXPECT_EQ(m_pApp->m_steps, std::vector<std::string>({"splash 3000 before the frame",
                                                         "platform check, frame shown"}));
    EXPECT_TRUE(g_hDevice.IsOpen());
    EXPECT_TRUE(m_box.m_messages.empty());
    EXPECT_EQ(m_pApp->GetMainFrame()->GetMdiArea().subWindowList().size(), 0);
    EXPECT_EQ(g_pDocTemplate->GetDocumentCount(), 0u);
    EXPECT_EQ(m_pApp->GetMainFrame()->GetPortToolBar().m_wndPortCombo->count(), 0)
        << "an unreadable port map gives an empty list";
    EXPECT_EQ(m_pApp->GetMainFrame()->windowTitle(), "wirelet---V2.0   https://wirelet.dev/");
}

// Each outcome of the driver's start that is not a plain success (the first
// test's): the program ends exactly when the device cannot be had and
// nothing else can be done.
TEST_F(StartupTest, DriverOutcomesEndOrContinueStartUp) {
    struct {
        const char* pszCase;
        std::function<void()> prepare;
        bool bRuns;
        std::vector<std::string> messages;
        bool bDeviceOpen;
    } const cases[] = {
        {"no driver beside the program", [] {}, false, {NEW_SERVICE_FAILED}, false},
        {"installed, but its image is gone",
         [this] {
             std::filesystem::create_symlink(VANTRY_SYS_PATH,
                                             m_strProgramDirectory + "/vantry.sys");
             CRecordingMessageBox box;
             ASSERT_EQ(EnsureDriver(box, m_strProgramDirectory), EStartup::Continue);
             StopDriver();
             std::filesystem::remove(m_strProgramDirectory + "/vantry.sys");
         },
         true,
         {START_FAILED},
         false},
        {"another kernel",
         [this] {
             std::filesystem::create_symlink(VANTRY_SYS_PATH,
                                             m_strProgramDirectory + "/vantry.sys");
             m_strPlatform = "Windows_NT";
         },
         false,
         {WRONG_PLATFORM},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        TearDown();
        SetUp();
        m_strPlatform = "Linux";
        c.prepare();
        EXPECT_EQ(Start(), c.bRuns);
        EXPECT_EQ(m_box.m_messages, c.messages);
        EXPECT_EQ(g_hDevice.IsOpen(), c.bDeviceOpen);
    }
}

} // namespace
