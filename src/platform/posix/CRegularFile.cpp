#include "CRegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace {

int CheckRegular(int hFd) {
    struct stat info {};
    if (::fstat(hFd, &info) != 0)
        return errno;
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    return S_ISREG(info.st_mode) ? 0 : CRegularFile::NOT_REGULAR;
}

} // namespace

int CRegularFile::OpenToWrite(const std::string& strPath) {
    if (const int nError = Open(strPath, O_WRONLY | O_CREAT))
        return nError;
    if (::ftruncate(m_file.Get(), 0) != 0) {
        const int nError = errno;
        m_file.Reset();
        return nError;
    }
    return 0;
}

int CRegularFile::OpenToRead(const std::string& strPath) {
    return Open(strPath, O_RDONLY);
}

// An O_PATH descriptor reaches no driver: what the name holds is known
// before anything is opened. The open that follows may still meet another
// file put there meanwhile; it neither blocks nor takes a terminal, and that
// file is looked at again before it is used.
int CRegularFile::Open(const std::string& strPath, int nFlags) {
    m_file.Reset();
    const CScopedFd path(::open(strPath.c_str(), O_PATH | O_CLOEXEC));
    if (path.IsValid()) {
        if (const int nError = CheckRegular(path.Get()))
            return nError;
    } else if (errno != ENOENT || (nFlags & O_CREAT) == 0) {
        return errno;
    }
    CScopedFd file(::open(strPath.c_str(), nFlags | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!file.IsValid())
        return errno == ENXIO ? NOT_REGULAR : errno; // a FIFO without a reader, a socket
    if (const int nError = CheckRegular(file.Get()))
        return nError;
    m_file = std::move(file);
    return 0;
}

int CRegularFile::Close() {
    if (!m_file.IsValid())
        return 0;
    return ::close(m_file.Release()) == 0 ? 0 : errno;
}
