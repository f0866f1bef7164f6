#include "DeviceHandle.h"

#include "VantryProtocol.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstdlib>
#include <cstring>
#include <string>

CDeviceHandle g_hDevice;

CDeviceHandle CDeviceHandle::Open() {
    const char* pszPath = std::getenv(Vantry::DEVICE_PATH_VARIABLE);
    const std::string strPath = pszPath && *pszPath ? pszPath : Vantry::DEFAULT_DEVICE_PATH;
    CDeviceHandle device;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (strPath.size() >= sizeof address.sun_path)
        return device;
    std::memcpy(address.sun_path, strPath.c_str(), strPath.size() + 1);
    CUniqueFd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (fd.IsValid() &&
        connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        device.m_fd = std::move(fd);
    return device;
}

void OpenDevice() {
    g_hDevice = CDeviceHandle::Open();
}
