#include "CSerialPortMap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

// Ports without a device (consoles, ptys) and serial-core ports whose UART
// was never found are left out; the rest come in natural name order. A map
// file offers its values in order, and a missing one is no map.
TEST(SerialPortMapTest, SysfsListsPortsWithARealDeviceAndAMapFileItsValues) {
    const fs::path dir =
        fs::temp_directory_path() / ("wirelet-portmap-" + std::to_string(getpid()));
    // A tty class directory entry; type < 0 writes no type attribute.
    const auto addTty = [&](const std::string& strName, bool bDevice, int nType = -1) {
        fs::create_directories(dir / strName);
        if (bDevice)
            fs::create_directory_symlink(dir, dir / strName / "device");
        if (nType >= 0)
            std::ofstream(dir / strName / "type") << nType << "\n";
    };
    addTty("tty1", false);
    addTty("ttyS0", true, 0);
    addTty("ttyS10", true, 4);
    addTty("ttyS2", true, 4);
    addTty("ttyUSB0", true);
    addTty("ttyACM0", true);
    EXPECT_EQ(CSerialPortMap::ReadSysfs(dir.string()),
              (std::vector<std::string>{"ttyACM0", "ttyS2", "ttyS10", "ttyUSB0"}));
    EXPECT_EQ(CSerialPortMap::ReadSysfs((dir / "missing").string()), std::nullopt);

    std::ofstream(dir / "map") << "a=/dev/pts/7\nnot a value\nb=ttyS0\nc=\n";
    EXPECT_EQ(CSerialPortMap::ReadFile((dir / "map").string()),
              (std::vector<std::string>{"/dev/pts/7", "ttyS0", ""}));
    EXPECT_EQ(CSerialPortMap::ReadFile((dir / "none").string()), std::nullopt);
    fs::remove_all(dir);
}
