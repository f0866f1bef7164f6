// The ports the extcap offers Wireshark: the program's own port list, each
// under an interface id that Wireshark can keep in its preferences and pass
// back on the command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ExtcapPorts {

struct CPort {
    std::string strId;   // "wirelet-ttyUSB0", "wirelet-pts-3": no '/' or ':'
    std::string strPath; // "/dev/ttyUSB0"
};

std::string IdOf(const std::string& strPath);
// The ports of the port list, in its order.
std::vector<CPort> List();
// The device path of the port with that id, when it is listed.
std::optional<std::string> PathOf(const std::string& strId);

} // namespace ExtcapPorts
