// Writes a whole buffer to a descriptor, going on after short writes and
// EINTR. Calls nothing but write(), so it may run between fork and exec.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

// False when the descriptor took less than everything.
inline bool WriteAll(int hFd, const void* pData, std::size_t nSize) {
    const char* p = static_cast<const char*>(pData);
    while (nSize > 0) {
        const ssize_t nWritten = write(hFd, p, nSize);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten <= 0)
            return false;
        p += nWritten;
        nSize -= std::size_t(nWritten);
    }
    return true;
}
