// A file the program writes or reads itself (a pane's export, a document):
// only ever a regular file. Whatever else a chosen name holds (a device
// node, a FIFO, a socket, a directory) is refused with nothing written, and
// a device or FIFO is looked at without being opened: opening a port runs
// its driver, which on a UART raises the modem lines, and opening a FIFO
// waits for its other end.
#pragma once

#include "CScopedFd.h"

#include <cerrno>
#include <string>

class CRegularFile {
public:
    // The errno a name that holds no regular file is refused with; a
    // directory gets EISDIR.
    static constexpr int NOT_REGULAR = EACCES;

    // Each returns 0 or an errno value. A file to write is created when
    // missing and emptied only once it is known to be a regular file.
    int OpenToWrite(const std::string& strPath);
    int OpenToRead(const std::string& strPath);

    int Get() const { return m_file.Get(); }
    // 0, or the errno of a close that failed (a write the disk refused late).
    int Close();

private:
    int Open(const std::string& strPath, int nFlags);

    CScopedFd m_file;
};
