// A new file written beside FILE that takes its place only when told, so that
// a capture or a conversion that fails leaves FILE as it was and no partial
// file behind. "-" is standard output, written directly.
#pragma once

#include <string>

class CReplacingFile {
public:
    explicit CReplacingFile(std::string strPath) : m_strPath(std::move(strPath)) {}
    ~CReplacingFile();
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;

    // False with errno set when the new file cannot be made.
    bool Create();
    int Fd() const { return m_hFd; }
    bool IsStandardOutput() const { return m_strPath == "-"; }
    // The new file becomes FILE; false with errno set.
    bool Replace();
    // Makes sure the disk took every byte and closes; false with errno set.
    // A disk that could not take the bytes may say so only now.
    bool Close();

private:
    const std::string m_strPath;
    std::string m_strTemp; // empty once it replaced FILE
    int m_hFd = -1;
};
