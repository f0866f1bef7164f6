#include "DriverDevice.h"

CVantryDevice g_hDevice;

void OpenDevice() {
    g_hDevice.Open();
}
