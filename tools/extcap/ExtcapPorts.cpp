#include "ExtcapPorts.h"

#include "CPortList.h"
#include "CSerialPortMap.h"
#include "CVantryDevice.h"

#include <algorithm>

namespace ExtcapPorts {

std::string IdOf(const std::string& strPath) {
    std::string strName = strPath.starts_with("/dev/") ? strPath.substr(5) : strPath;
    strName.erase(0, strName.find_first_not_of('/'));
    std::ranges::replace(strName, '/', '-');
    std::ranges::replace(strName, ':', '-');
    return "wirelet-" + strName;
}

std::vector<CPort> List() {
    CPortList list;
    list.Update(CSerialPortMap::Read().value_or(std::vector<std::string>{}));
    std::vector<CPort> ports;
    for (const std::string& strName : list.Items()) {
        const std::string strPath = CVantryDevice::PortDevicePath(strName);
        ports.push_back({IdOf(strPath), strPath});
    }
    return ports;
}

std::optional<std::string> PathOf(const std::string& strId) {
    for (const CPort& port : List()) {
        if (port.strId == strId)
            return port.strPath;
    }
    return std::nullopt;
}

} // namespace ExtcapPorts
