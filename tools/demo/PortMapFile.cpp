#include "PortMapFile.h"

#include "CSerialPortMap.h"

#include <fstream>

bool PortMapFile::Write(const std::string& strPath, const std::string& strDemoPort) {
    std::ofstream file(strPath);
    for (const std::string& strPort : CSerialPortMap::Read().value_or(std::vector<std::string>{}))
        file << strPort << "=" << strPort << "\n";
    file << "wirelet-demo=" << strDemoPort << "\n";
    file.close();
    return bool(file);
}
