// The port list's source: sysfs, or the file that offers virtual ports.
#include "CSerialPortMap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class SerialPortMapTest : public testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("wirelet-portmap-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // A tty class directory entry; type < 0 writes no type attribute.
    void AddTty(const std::string& strName, bool bDevice, int nType = -1) {
        fs::create_directories(m_dir / strName);
        if (bDevice)
            fs::create_directory_symlink(m_dir, m_dir / strName / "device");
        if (nType >= 0)
            std::ofstream(m_dir / strName / "type") << nType << "\n";
    }

    fs::path m_dir;
};

// Ports without a device (consoles, ptys) and serial-core ports whose UART
// was never found are left out; the rest come in natural name order.
TEST_F(SerialPortMapTest, SysfsListsPortsWithARealDeviceInNaturalOrder) {
    AddTty("tty1", false);
    AddTty("ttyS0", true, 0);
    AddTty("ttyS10", true, 4);
    AddTty("ttyS2", true, 4);
    AddTty("ttyUSB0", true);
    AddTty("ttyACM0", true);
    EXPECT_EQ(CSerialPortMap::ReadSysfs(m_dir.string()),
              (std::vector<std::string>{"ttyACM0", "ttyS2", "ttyS10", "ttyUSB0"}));
    EXPECT_EQ(CSerialPortMap::ReadSysfs((m_dir / "missing").string()), std::nullopt);
}

TEST_F(SerialPortMapTest, MapFileOffersItsValuesInOrderAndAMissingFileIsNoMap) {
    std::ofstream(m_dir / "map") << "a=/dev/pts/7\nnot a value\nb=ttyS0\nc=\n";
    EXPECT_EQ(CSerialPortMap::ReadFile((m_dir / "map").string()),
              (std::vector<std::string>{"/dev/pts/7", "ttyS0", ""}));
    EXPECT_EQ(CSerialPortMap::ReadFile((m_dir / "none").string()), std::nullopt);
}

} // namespace
