// What a record file that wirelet-cli capture wrote holds.
#pragma once

#include <cstdint>
#include <string>

struct CFileTally {
    std::uint64_t qwWritten = 0, qwRecords = 0, qwDropped = 0;
};

// Sums the data written and the records the driver reported dropped.
CFileTally Tally(const std::string& strPath);
