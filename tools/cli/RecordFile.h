// Loading a record file for the console tool: the whole file, checked before
// any of it is used, so a damaged file is refused before anything is printed.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct CRecordFile {
    std::vector<std::uint8_t> m_bytes;
    std::vector<std::span<const std::uint8_t>> m_records;
};

// Reads FILE ("-" for standard input). On failure returns false and puts a
// message for the user into strError.
bool LoadRecordFile(const std::string& strPath, CRecordFile& file, std::string& strError);
