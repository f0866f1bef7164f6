#include "DriverService.h"

#include "CServiceManager.h"
#include "DriverDevice.h"
#include "RootOnlyPath.h"

#include <unistd.h>

#include <cerrno>
#include <optional>

namespace {

constexpr const char* SERVICE_NAME = "Vantry";
constexpr const char* DRIVER_FILE = "vantry.sys";
constexpr std::uint32_t SERVICE_ACCESS = Scm::DELETE | Scm::SERVICE_STOP | Scm::SERVICE_START;
constexpr std::uint32_t CREATE_ACCESS = Scm::SERVICE_ALL_ACCESS | Scm::GENERIC_EXECUTE;

constexpr const char* MSG_NO_RIGHTS_TO_START = "串口监视仪驱动安装失败，你需要拥有管理员权限！";
constexpr const char* MSG_START_FAILED = "发生未知错误，驱动可能丢失。";
constexpr const char* MSG_DEVICE_UNREACHABLE = "发生未知错误，无法访问到驱动。";
constexpr const char* MSG_NO_RIGHTS_TO_INSTALL = "你需要具有管理员权限才能安装本驱动程序！";
constexpr const char* MSG_CANNOT_INSTALL = "未知错误！不能安装！";
constexpr const char* MSG_NEW_SERVICE_FAILED = "不能启动设备，驱动可能未被发现。";
constexpr const char* MSG_CANNOT_REMOVE = "错误！不能移除驱动！";

CServiceManager OpenManager() {
    return CServiceManager::Open(nullptr, Scm::SERVICES_ACTIVE_DATABASE,
                                 Scm::SC_MANAGER_ALL_ACCESS);
}

// The driver's service, opened for starting, stopping and deleting; it is
// invalid when it is not installed. Empty when the service manager refuses us
// (no root).
std::optional<CService> OpenDriverService() {
    const CServiceManager manager = OpenManager();
    if (!manager.IsValid())
        return std::nullopt;
    return manager.OpenService(SERVICE_NAME, SERVICE_ACCESS);
}

// Root runs the image it installs: one that another user could have put there
// or could change later is never installed. A missing image is left to the
// start to find out, as before.
bool IsSafeImage(const std::string& strImage) {
    return geteuid() != 0 || CheckRootOnlyPath(strImage) != EPERM;
}

EStartup InstallDriver(IMessageBox& messages, const std::string& strDirectory) {
    CServiceManager manager = OpenManager();
    if (!manager.IsValid()) {
        messages.ShowWarning(MSG_NO_RIGHTS_TO_INSTALL);
        return EStartup::Stop;
    }
    const std::string strImage = strDirectory.empty() ? std::string() : DriverPathIn(strDirectory);
    if (!IsSafeImage(strImage)) {
        messages.ShowWarning(MSG_CANNOT_INSTALL);
        return EStartup::Stop;
    }
    CServiceConfig config;
    config.strName = SERVICE_NAME;
    config.strDisplayName = SERVICE_NAME;
    config.dwServiceType = Scm::SERVICE_KERNEL_DRIVER;
    config.dwStartType = Scm::SERVICE_DEMAND_START;
    config.dwErrorControl = Scm::SERVICE_ERROR_IGNORE;
    config.strImagePath = strImage;
    CService service = manager.CreateService(config, CREATE_ACCESS);
    manager.Close();
    if (!service.IsValid()) {
        messages.ShowWarning(MSG_CANNOT_INSTALL);
        return EStartup::Stop;
    }
    const bool bStarted = service.Start() == 0;
    if (bStarted) {
        OpenDevice();
        if (g_hDevice.IsOpen()) {
            service.Close();
            return EStartup::Continue;
        }
        service.Control(Scm::SERVICE_CONTROL_STOP);
    }
    // No entry of a driver that never came up may survive.
    messages.ShowWarning(MSG_NEW_SERVICE_FAILED);
    service.Delete();
    service.Close();
    return EStartup::Stop;
}

} // namespace

std::string DriverPathIn(const std::string& strDirectory) {
    if (!strDirectory.empty() && strDirectory.back() == '/')
        return strDirectory + DRIVER_FILE;
    return strDirectory + "/" + DRIVER_FILE;
}

EStartup EnsureDriver(IMessageBox& messages, const std::string& strProgramDirectory) {
    // A running driver needs no service manager, and so no root.
    OpenDevice();
    if (g_hDevice.IsOpen())
        return EStartup::Continue;

    std::optional<CService> service = OpenDriverService();
    if (!service) {
        messages.ShowWarning(MSG_NO_RIGHTS_TO_START);
        return EStartup::Stop;
    }
    if (!service->IsValid())
        return InstallDriver(messages, strProgramDirectory);
    if (service->Start() != 0) {
        messages.ShowWarning(MSG_START_FAILED);
        return EStartup::Continue;
    }
    OpenDevice();
    if (!g_hDevice.IsOpen()) {
        messages.ShowWarning(MSG_DEVICE_UNREACHABLE);
        return EStartup::Stop;
    }
    return EStartup::Continue;
}

void StopDriver() {
    if (!g_hDevice.IsOpen())
        return;
    g_hDevice.Close();
    if (std::optional<CService> service = OpenDriverService(); service && service->IsValid())
        service->Control(Scm::SERVICE_CONTROL_STOP);
}

void RemoveDriver(IMessageBox& messages) {
    // The manager comes first: a user without root who cannot remove the
    // driver keeps the device, and with it every monitor that runs.
    std::optional<CService> service = OpenDriverService();
    if (service)
        g_hDevice.Close();
    if (!service || !service->IsValid()) {
        messages.ShowWarning(MSG_CANNOT_REMOVE);
        return;
    }
    service->Control(Scm::SERVICE_CONTROL_STOP);
    service->Delete();
}
