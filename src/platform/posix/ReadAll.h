// Reads a whole file with read(), so that any read error (a directory, an
// I/O error) comes back as an errno value, never as an exception.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

// 0 or the errno value of the failed read; bytes holds what was read.
inline int ReadAll(int hFd, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    for (;;) {
        const std::size_t nOld = bytes.size();
        bytes.resize(nOld + 65536);
        const ssize_t nRead = read(hFd, bytes.data() + nOld, 65536);
        bytes.resize(nOld + std::size_t(nRead > 0 ? nRead : 0));
        if (nRead == 0)
            return 0;
        if (nRead < 0 && errno != EINTR)
            return errno;
    }
}

inline int ReadFile(const std::string& strPath, std::vector<std::uint8_t>& bytes) {
    const int hFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (hFd < 0)
        return errno;
    const int nError = ReadAll(hFd, bytes);
    close(hFd);
    return nError;
}
