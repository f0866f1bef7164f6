// The program's one opening of the driver device, shared by every monitor.
#pragma once

#include "CVantryDevice.h"

extern CVantryDevice g_hDevice;

// Opens the device at VANTRY_DEVICE, or /run/Vantry, into g_hDevice; open
// or not is what g_hDevice.IsOpen() tells afterwards.
void OpenDevice();
