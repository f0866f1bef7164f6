// EnsureDriver, StopDriver and RemoveDriver against the real service manager
// and a real driver daemon, each in a sandbox of its own.
#include "DriverService.h"
#include "CServiceManager.h"
#include "CServiceSandbox.h"
#include "DriverDevice.h"
#include "RunAs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

using Messages = std::vector<std::string>;

const std::string NO_RIGHTS_TO_START = "串口监视仪驱动安装失败，你需要拥有管理员权限！";
const std::string START_FAILED = "发生未知错误，驱动可能丢失。";
const std::string DEVICE_UNREACHABLE = "发生未知错误，无法访问到驱动。";
const std::string CANNOT_INSTALL = "未知错误！不能安装！";
const std::string NEW_SERVICE_FAILED = "不能启动设备，驱动可能未被发现。";
const std::string CANNOT_REMOVE = "错误！不能移除驱动！";

struct CServiceState {
    bool bInstalled = false;
    bool bRunning = false;
    std::string strImage;
    bool operator==(const CServiceState&) const = default;
};

class DriverServiceTest : public CServiceSandbox {
protected:
    void TearDown() override {
        g_hDevice.Close();
        CServiceSandbox::TearDown();
    }

    // The driver, as the user puts it beside the program.
    void PutDriverInCurrentDirectory() {
        std::filesystem::create_symlink(VANTRY_SYS_PATH, m_strCurrent + "/vantry.sys");
    }

    CServiceState State() const {
        CServiceManager manager = CServiceManager::Open(nullptr, Scm::SERVICES_ACTIVE_DATABASE,
                                                        Scm::SC_MANAGER_ALL_ACCESS);
        CService service = manager.OpenService("Vantry", Scm::SERVICE_READ_ONLY);
        if (!service.IsValid())
            return {};
        const auto config = service.QueryConfig();
        return {true, service.IsRunning(), config ? config->strImagePath : ""};
    }
    CServiceState Running() const { return {true, true, m_strCurrent + "/vantry.sys"}; }
    CServiceState Stopped() const { return {true, false, m_strCurrent + "/vantry.sys"}; }

    CRecordingMessageBox m_box;
};

TEST_F(DriverServiceTest, DriverIsInstalledStoppedRestartedAndRemoved) {
    PutDriverInCurrentDirectory();
    EXPECT_EQ(EnsureDriver(m_box), EStartup::Continue);
    EXPECT_TRUE(g_hDevice.IsOpen());
    EXPECT_EQ(State(), Running());

    // The exit stops the driver and keeps it installed.
    StopDriver();
    EXPECT_FALSE(g_hDevice.IsOpen());
    EXPECT_EQ(State(), Stopped());
    EXPECT_FALSE(std::filesystem::exists(m_strDevice));

    // So the next start only has to start it.
    EXPECT_EQ(EnsureDriver(m_box), EStartup::Continue);
    EXPECT_TRUE(g_hDevice.IsOpen());
    EXPECT_EQ(State(), Running());

    RemoveDriver(m_box);
    EXPECT_FALSE(g_hDevice.IsOpen());
    EXPECT_EQ(State(), CServiceState());
    EXPECT_EQ(m_box.m_messages, Messages());

    RemoveDriver(m_box);
    EXPECT_EQ(m_box.m_messages, Messages{CANNOT_REMOVE});
    // The exit after a removal finds nothing to do.
    StopDriver();
    EXPECT_EQ(State(), CServiceState());
    EXPECT_EQ(m_box.m_messages, Messages{CANNOT_REMOVE});
}

TEST_F(DriverServiceTest, DriverLeftRunningByAnEarlierRunIsUsedWithoutTheServiceManager) {
    PutDriverInCurrentDirectory();
    const int nEarlierRun = RunAs(0, {}, [] {
        CRecordingMessageBox box;
        return EnsureDriver(box) == EStartup::Continue && box.m_messages.empty() ? 0 : 1;
    });
    ASSERT_EQ(nEarlierRun, 0);

    // A service manager we cannot touch: any access to it would show.
    const std::string strRoot = getenv(CServiceManager::ROOT_VARIABLE);
    setenv(CServiceManager::ROOT_VARIABLE, (m_strDirectory + "/untouched").c_str(), 1);
    EXPECT_EQ(EnsureDriver(m_box), EStartup::Continue);
    EXPECT_TRUE(g_hDevice.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(m_strDirectory + "/untouched"));
    setenv(CServiceManager::ROOT_VARIABLE, strRoot.c_str(), 1);

    // The earlier run's driver is still the service's to stop.
    StopDriver();
    EXPECT_EQ(State(), Stopped());
    EXPECT_FALSE(std::filesystem::exists(m_strDevice));
    EXPECT_EQ(m_box.m_messages, Messages());
}

TEST_F(DriverServiceTest, MissingImageLeavesNoServiceBehind) {
    EXPECT_EQ(EnsureDriver(m_box), EStartup::Stop);
    EXPECT_EQ(m_box.m_messages, Messages{NEW_SERVICE_FAILED});
    EXPECT_EQ(State(), CServiceState());
    EXPECT_FALSE(g_hDevice.IsOpen());
    // In the root directory no second separator is added.
    EXPECT_EQ(DriverPathIn("/"), "/vantry.sys");
    EXPECT_EQ(DriverPathIn("/opt/wirelet/"), "/opt/wirelet/vantry.sys");
}

TEST_F(DriverServiceTest, ImageThatNeverOpensItsDevice) {
    // Says it is ready but never opens its device.
    std::filesystem::create_symlink(
        WriteScript("deviceless", "printf 'READY\\n' >&$VANTRY_READY_FD\nexec sleep 30"),
        m_strCurrent + "/vantry.sys");
    // Newly installed: stopped and deleted again.
    EXPECT_EQ(EnsureDriver(m_box), EStartup::Stop);
    EXPECT_EQ(m_box.m_messages, Messages{NEW_SERVICE_FAILED});
    EXPECT_EQ(State(), CServiceState());

    // Installed earlier: it is left running and the program ends.
    CServiceConfig config;
    config.strName = config.strDisplayName = "Vantry";
    config.strImagePath = m_strCurrent + "/vantry.sys";
    ASSERT_TRUE(
        CServiceManager::Open(nullptr, Scm::SERVICES_ACTIVE_DATABASE, Scm::SC_MANAGER_ALL_ACCESS)
            .CreateService(config, Scm::SERVICE_ALL_ACCESS)
            .IsValid());
    m_box.m_messages.clear();
    EXPECT_EQ(EnsureDriver(m_box), EStartup::Stop);
    EXPECT_EQ(m_box.m_messages, Messages{DEVICE_UNREACHABLE});
    EXPECT_EQ(State(), Running());
}

TEST_F(DriverServiceTest, InstalledServiceWhoseImageVanishedRunsWithoutTheDevice) {
    PutDriverInCurrentDirectory();
    ASSERT_EQ(EnsureDriver(m_box), EStartup::Continue);
    StopDriver();
    std::filesystem::remove(m_strCurrent + "/vantry.sys");
    EXPECT_EQ(EnsureDriver(m_box), EStartup::Continue);
    EXPECT_EQ(m_box.m_messages, Messages{START_FAILED});
    EXPECT_FALSE(g_hDevice.IsOpen());
    EXPECT_EQ(State(), Stopped());
}

TEST_F(DriverServiceTest, UnreadableCurrentDirectoryIsNotInstalledFrom) {
    const std::string strGone = m_strCurrent + "/gone";
    std::filesystem::create_directory(strGone);
    ASSERT_EQ(chdir(strGone.c_str()), 0);
    std::filesystem::remove(strGone);
    EXPECT_EQ(EnsureDriver(m_box), EStartup::Stop);
    EXPECT_EQ(m_box.m_messages, Messages{CANNOT_INSTALL});
    EXPECT_EQ(State(), CServiceState());
}

TEST_F(DriverServiceTest, WithoutRootNothingIsInstalledStartedOrRemoved) {
    const auto ensure = [](IMessageBox& box) {
        return EnsureDriver(box) == EStartup::Stop && !g_hDevice.IsOpen() ? 0 : 1;
    };
    CChildResult child = RunAsNobody(ensure);
    EXPECT_EQ(child.nExitStatus, 0);
    EXPECT_EQ(child.messages, Messages{NO_RIGHTS_TO_START});
    EXPECT_EQ(State(), CServiceState());

    PutDriverInCurrentDirectory();
    ASSERT_EQ(EnsureDriver(m_box), EStartup::Continue);
    StopDriver();
    child = RunAsNobody(ensure);
    EXPECT_EQ(child.nExitStatus, 0);
    EXPECT_EQ(child.messages, Messages{NO_RIGHTS_TO_START});
    EXPECT_EQ(State(), Stopped());

    // A running driver is all a user without root needs.
    ASSERT_EQ(EnsureDriver(m_box), EStartup::Continue);
    chmod(m_strDirectory.c_str(), 0711);
    child = RunAsNobody([](IMessageBox& box) {
        g_hDevice.Close();
        return EnsureDriver(box) == EStartup::Continue && g_hDevice.IsOpen() ? 0 : 1;
    });
    EXPECT_EQ(child.nExitStatus, 0);
    EXPECT_EQ(child.messages, Messages());

    // Removing needs root too; without it the device stays open, so the
    // monitors that run keep running.
    child = RunAsNobody([](IMessageBox& box) {
        RemoveDriver(box);
        return g_hDevice.IsOpen() ? 0 : 1;
    });
    EXPECT_EQ(child.nExitStatus, 0);
    EXPECT_EQ(child.messages, Messages{CANNOT_REMOVE});
    EXPECT_EQ(State(), Running());
    EXPECT_EQ(m_box.m_messages, Messages());
}

} // namespace
