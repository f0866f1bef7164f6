// What the sample application moved on its port, for whoever wants to check
// a capture against it: one line a write ("> ") or read ("< ") with its
// bytes in hex, in the order the calls returned.
#pragma once

#include "CScopedFd.h"

#include <cstdint>
#include <span>
#include <string>

class CTranscript {
public:
    // An empty path keeps no transcript. 0 or an errno value.
    int Open(const std::string& strPath);
    void Add(char cDirection, std::span<const std::uint8_t> bytes) const;

private:
    CScopedFd m_hFile;
};
