#include "DriverService.h"
#include "CServiceSandbox.h"
#include "DriverDevice.h"
#include "RunAs.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

using Messages = std::vector<std::string>;

const std::string NO_RIGHTS_TO_START = "串口监视仪驱动安装失败，你需要拥有管理员权限！";
const std::string START_FAILED = "发生未知错误，驱动可能丢失。";
const std::string DEVICE_UNREACHABLE = "发生未知错误，无法访问到驱动。";
const std::string CANNOT_INSTALL = "未知错误！不能安装！";
const std::string NEW_SERVICE_FAILED = "不能启动设备，驱动可能未被发现。";
const std::string CANNOT_REMOVE = "错误！不能移除驱动！";

enum class EState { Absent, Stopped, Running };
// Writable: group-writable. Foreign: a link to a copy in another user's
// directory. NoDirectory: the program's directory is unknown.
enum class EImage { Missing, Driver, Deviceless, Writable, Foreign, NoDirectory };
using enum EState;
using enum EImage;
using enum EStartup;

// The function's return, and the messages it showed, in a child that has
// given up root for nobody.
struct CChildResult {
    int nExitStatus = -1;
    Messages messages;
};
CChildResult RunAsNobody(const std::function<int(IMessageBox&)>& function) {
    const int hMessages = memfd_create("messages", MFD_CLOEXEC);
    CChildResult result;
    result.nExitStatus = RunAs(NOBODY, {}, [&] {
        CRecordingMessageBox messages;
        const int nStatus = function(messages);
        for (const auto& strMessage : messages.m_messages)
            dprintf(hMessages, "%s\n", strMessage.c_str());
        return nStatus;
    });
    std::ifstream lines("/proc/self/fd/" + std::to_string(hMessages));
    for (std::string strLine; std::getline(lines, strLine);)
        result.messages.push_back(strLine);
    close(hMessages);
    return result;
}

class DriverServiceTest : public CServiceSandbox {
protected:
    // The image, as the user puts it beside the program.
    void PutImage(EImage image) {
        const std::string strImage = m_strProgramDirectory + "/vantry.sys";
        const std::string strForeign = m_strDirectory + "/nobodys";
        if (image == Driver)
            std::filesystem::create_symlink(VANTRY_SYS_PATH, strImage);
        if (image == Deviceless) // says it is ready but never opens its device
            std::filesystem::create_symlink(
                WriteScript("deviceless", "printf 'READY\\n' >&$VANTRY_READY_FD\nexec sleep 30"),
                strImage);
        if (image == Writable) {
            std::filesystem::copy_file(VANTRY_SYS_PATH, strImage);
            chmod(strImage.c_str(), 0775);
        }
        if (image == Foreign) {
            std::filesystem::create_directory(strForeign);
            ASSERT_EQ(chown(strForeign.c_str(), NOBODY, NOBODY), 0);
            std::filesystem::copy_file(VANTRY_SYS_PATH, strForeign + "/vantry.sys");
            std::filesystem::create_symlink(strForeign + "/vantry.sys", strImage);
        }
    }
    EState State() const {
        CService service = Manager().OpenService("Vantry", Scm::SERVICE_READ_ONLY);
        if (!service.IsValid())
            return Absent;
        const auto config = service.QueryConfig();
        EXPECT_EQ(config ? config->strImagePath : "", m_strProgramDirectory + "/vantry.sys");
        return service.IsRunning() ? Running : Stopped;
    }

    CRecordingMessageBox m_box;
};

struct CStartup {
    const char* pszWhat;
    EImage image;
    bool bInstalled; // installed earlier, stopped
    bool bNobody;
    EStartup result;
    std::string strMessage;
    EState state;
};

class DriverStartupTest : public DriverServiceTest,
                          public ::testing::WithParamInterface<CStartup> {};

TEST_P(DriverStartupTest, EnsureDriver) {
    const CStartup& c = GetParam();
    SCOPED_TRACE(c.pszWhat);
    PutImage(c.image);
    if (c.bInstalled) {
        const CServiceConfig config{.strName = "Vantry",
                                    .strDisplayName = "Vantry",
                                    .strImagePath = m_strProgramDirectory + "/vantry.sys"};
        ASSERT_TRUE(Manager().CreateService(config, Scm::SERVICE_ALL_ACCESS).IsValid());
    }
    const std::string strDirectory = c.image == NoDirectory ? "" : m_strProgramDirectory;
    const bool bOpen = c.result == Continue && c.state == Running;
    const auto ensure = [&](IMessageBox& box) {
        return EnsureDriver(box, strDirectory) == c.result && g_hDevice.IsOpen() == bOpen ? 0 : 1;
    };
    const CChildResult result =
        c.bNobody ? RunAsNobody(ensure) : CChildResult{ensure(m_box), m_box.m_messages};
    EXPECT_EQ(result.nExitStatus, 0);
    EXPECT_EQ(result.messages, c.strMessage.empty() ? Messages() : Messages{c.strMessage});
    EXPECT_EQ(State(), c.state);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverStartupTest,
    ::testing::Values(
        CStartup{"fresh", Driver, false, false, Continue, "", Running},
        CStartup{"no image", Missing, false, false, Stop, NEW_SERVICE_FAILED, Absent},
        CStartup{"image gone", Missing, true, false, Continue, START_FAILED, Stopped},
        CStartup{"deviceless", Deviceless, false, false, Stop, NEW_SERVICE_FAILED, Absent},
        CStartup{"deviceless, installed", Deviceless, true, false, Stop, DEVICE_UNREACHABLE,
                 Running},
        CStartup{"unknown directory", NoDirectory, false, false, Stop, CANNOT_INSTALL, Absent},
        // Root never runs an image that another user could change.
        CStartup{"writable image", Writable, false, false, Stop, CANNOT_INSTALL, Absent},
        CStartup{"image in another user's directory", Foreign, false, false, Stop, CANNOT_INSTALL,
                 Absent},
        CStartup{"installed, image writable since", Writable, true, false, Continue, START_FAILED,
                 Stopped},
        CStartup{"nobody", Driver, false, true, Stop, NO_RIGHTS_TO_START, Absent}));

TEST_F(DriverServiceTest, DriverIsStoppedRestartedUsedWithoutRootAndRemoved) {
    PutImage(Driver);
    // An earlier run started the driver and left it running: this run uses
    // it, and its exit stops it and keeps it installed; the next start only
    // has to start it.
    const int nEarlierRun = RunAs(0, {}, [this] {
        CRecordingMessageBox box;
        return EnsureDriver(box, m_strProgramDirectory) == Continue && box.m_messages.empty() ? 0
                                                                                              : 1;
    });
    ASSERT_EQ(nEarlierRun, 0);
    ASSERT_EQ(EnsureDriver(m_box, m_strProgramDirectory), Continue);
    StopDriver();
    EXPECT_FALSE(g_hDevice.IsOpen());
    EXPECT_EQ(State(), Stopped);
    EXPECT_FALSE(std::filesystem::exists(m_strDevice));
    EXPECT_EQ(EnsureDriver(m_box, m_strProgramDirectory), Continue);
    EXPECT_EQ(State(), Running);

    // A running driver is all a user without root needs: no access to the
    // service manager. Removing needs root; without it the device stays
    // open, so running monitors go on.
    chmod(m_strDirectory.c_str(), 0711);
    const CChildResult child = RunAsNobody([](IMessageBox& box) {
        g_hDevice.Close();
        if (EnsureDriver(box, "") != Continue || !g_hDevice.IsOpen())
            return 1;
        RemoveDriver(box);
        return g_hDevice.IsOpen() ? 0 : 2;
    });
    EXPECT_EQ(child.nExitStatus, 0);
    EXPECT_EQ(child.messages, Messages{CANNOT_REMOVE});
    EXPECT_EQ(State(), Running);

    RemoveDriver(m_box);
    EXPECT_FALSE(g_hDevice.IsOpen());
    EXPECT_EQ(State(), Absent);
    EXPECT_EQ(m_box.m_messages, Messages());
    RemoveDriver(m_box);
    EXPECT_EQ(m_box.m_messages, Messages{CANNOT_REMOVE});
    // In the root directory no second separator is added.
    EXPECT_EQ(DriverPathIn("/"), "/vantry.sys");
    EXPECT_EQ(DriverPathIn("/opt/wirelet/"), "/opt/wirelet/vantry.sys");
}

} // namespace
