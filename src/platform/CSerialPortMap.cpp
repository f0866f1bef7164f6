#include "CSerialPortMap.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// "ttyS2" before "ttyS10": runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t iEnd = i, jEnd = j;
            while (iEnd < a.size() && std::isdigit(static_cast<unsigned char>(a[iEnd])))
                ++iEnd;
            while (jEnd < b.size() && std::isdigit(static_cast<unsigned char>(b[jEnd])))
                ++jEnd;
            const std::string_view strA = std::string_view(a).substr(i, iEnd - i);
            const std::string_view strB = std::string_view(b).substr(j, jEnd - j);
            const auto trimA = strA.substr(std::min(strA.find_first_not_of('0'), strA.size()));
            const auto trimB = strB.substr(std::min(strB.find_first_not_of('0'), strB.size()));
            if (trimA.size() != trimB.size())
                return trimA.size() < trimB.size();
            if (trimA != trimB)
                return trimA < trimB;
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

// A serial-core port whose UART was never found reports type 0 (unknown):
// the kernel keeps ttyS0 to ttyS31 whether or not the chips exist.
bool HasUart(const fs::path& portDir) {
    std::ifstream type(portDir / "type");
    int nType = -1;
    return !(type >> nType) || nType != 0;
}

} // namespace

std::optional<std::vector<std::string>> CSerialPortMap::Read() {
    if (const char* pszFile = std::getenv(MAP_FILE_VARIABLE); pszFile != nullptr && *pszFile)
        return ReadFile(pszFile);
    return ReadSysfs("/sys/class/tty");
}

std::optional<std::vector<std::string>> CSerialPortMap::ReadFile(const std::string& strPath) {
    std::ifstream file(strPath);
    if (!file)
        return std::nullopt;
    std::vector<std::string> ports;
    std::string strLine;
    while (std::getline(file, strLine)) {
        const std::size_t nEquals = strLine.find('=');
        if (nEquals != std::string::npos)
            ports.push_back(strLine.substr(nEquals + 1));
    }
    return ports;
}

// Virtual consoles and ptys have no device behind them in sysfs; UARTs, USB
// serial adapters, ACM modems and their like do.
std::optional<std::vector<std::string>> CSerialPortMap::ReadSysfs(const std::string& strClassDir) {
    std::error_code error;
    fs::directory_iterator entries(strClassDir, error);
    if (error)
        return std::nullopt;
    std::vector<std::string> ports;
    for (const fs::directory_entry& entry : entries) {
        if (fs::exists(entry.path() / "device", error) && HasUart(entry.path()))
            ports.push_back(entry.path().filename().string());
    }
    std::ranges::sort(ports, NaturalLess);
    return ports;
}
