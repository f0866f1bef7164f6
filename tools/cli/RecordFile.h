// Reading a record file for the console tool as a stream: each record is
// checked before it is handed on, and reading stops at the first one that is
// not whole, so a file of any length (or an endless one) costs no more memory
// than its largest record. A caller prints nothing before the walk succeeded,
// so a damaged file is still refused without output.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

// Calls onRecord for each record of FILE ("-" for standard input); a record's
// bytes are valid during the call only. On failure returns false and puts a
// message for the user into strError.
bool ForEachRecordInFile(const std::string& strPath,
                         const std::function<void(std::span<const std::uint8_t>)>& onRecord,
                         std::string& strError);

// Appends one record to a record file: its size, then its bytes. False with
// errno set when the descriptor did not take all of it.
bool WriteFileRecord(int hFd, std::span<const std::uint8_t> record);
