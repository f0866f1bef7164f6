// The program's one connection to the driver device, g_hDevice.
#pragma once

#include "CUniqueFd.h"

class CDeviceHandle {
public:
    // Connects to the device at VANTRY_DEVICE, or /run/Vantry.
    static CDeviceHandle Open();

    bool IsOpen() const { return m_fd.IsValid(); }
    void Close() { m_fd.Reset(); }

private:
    CUniqueFd m_fd;
};

extern CDeviceHandle g_hDevice;

// Opens the device into g_hDevice, open or not.
void OpenDevice();
