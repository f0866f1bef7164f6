// The machine's serial ports: the ports sysfs lists with a real device behind
// them, or, when WIRELET_SERIALCOMM names a file, the entries of that file
// (one "name=port" a line; this is how virtual ports such as pty pairs are
// offered).
#pragma once

#include <optional>
#include <string>
#include <vector>

class CSerialPortMap {
public:
    static constexpr const char* MAP_FILE_VARIABLE = "WIRELET_SERIALCOMM";

    // The port names in map order; empty when there is no map at all (the
    // named file is missing, or sysfs cannot be read).
    static std::optional<std::vector<std::string>> Read();

    static std::optional<std::vector<std::string>> ReadFile(const std::string& strPath);
    static std::optional<std::vector<std::string>> ReadSysfs(const std::string& strClassDir);
};
