#include "ProgramDirectory.h"

#include <unistd.h>

#include <vector>

std::string ProgramDirectory() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t nLength = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (nLength <= 0)
            return {};
        if (std::size_t(nLength) < buffer.size()) {
            const std::string strProgram(buffer.data(), std::size_t(nLength));
            const auto nSlash = strProgram.rfind('/');
            if (strProgram[0] != '/' || nSlash == std::string::npos)
                return {};
            return nSlash == 0 ? "/" : strProgram.substr(0, nSlash);
        }
        buffer.resize(buffer.size() * 2);
    }
}
