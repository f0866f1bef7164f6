#include "RecordFile.h"

#include "CRecordView.h"
#include "CScopedFd.h"
#include "WriteAll.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// Room for the largest record with its size field several times over, so
// that a file of small records is read in few calls.
constexpr std::size_t BUFFER_SIZE = 4 * (4 + Vantry::MAX_RECORD_SIZE);

const char* TypeName(std::int8_t nType) {
    switch (nType) {
    case Vantry::CAPTURE_DATA_READ:
    case Vantry::CAPTURE_DATA_WRITTEN:
        return "data";
    case Vantry::CAPTURE_BAUD_RATE:
        return "baud-rate";
    case Vantry::CAPTURE_LINE_CONTROL:
        return "line-control";
    default:
        return "event";
    }
}

} // namespace

bool ForEachRecordInFile(const std::string& strPath,
                         const std::function<void(std::span<const std::uint8_t>)>& onRecord,
                         std::string& strError) {
    CScopedFd file;
    if (strPath != "-") {
        file.Reset(open(strPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (!file.IsValid()) {
            strError = strPath + ": " + std::strerror(errno);
            return false;
        }
    }
    const int hFd = strPath == "-" ? STDIN_FILENO : file.Get();

    std::vector<std::uint8_t> buffer(BUFFER_SIZE);
    std::size_t nStart = 0; // the unread bytes are buffer[nStart, nEnd)
    std::size_t nEnd = 0;
    bool bEnded = false;
    // One read into buffer[nAt, nAt + nMost); nRead counts it. 0, or the
    // errno value of a failed read.
    auto readSome = [&](std::size_t nAt, std::size_t nMost, std::size_t& nRead) {
        ssize_t nResult;
        nRead = 0;
        do
            nResult = read(hFd, buffer.data() + nAt, nMost);
        while (nResult < 0 && errno == EINTR);
        if (nResult < 0)
            return errno;
        bEnded = nResult == 0;
        nRead = std::size_t(nResult);
        return 0;
    };
    // Makes nBytes unread bytes available unless the file ends first.
    auto fill = [&](std::size_t nBytes) {
        if (buffer.size() - nStart < nBytes) {
            std::memmove(buffer.data(), buffer.data() + nStart, nEnd - nStart);
            nEnd -= nStart;
            nStart = 0;
        }
        int nError = 0;
        for (std::size_t nRead = 0; nError == 0 && nEnd - nStart < nBytes && !bEnded; nEnd += nRead)
            nError = readSome(nEnd, buffer.size() - nEnd, nRead);
        return nError;
    };

    // Passes over a record too large to hold without keeping its bytes, up
    // to qwBytes or the end of the file; qwHave counts what was there.
    auto skip = [&](std::uint64_t qwBytes, std::uint64_t& qwHave) {
        qwHave = nEnd - nStart;
        nStart = nEnd = 0;
        int nError = 0;
        for (std::size_t nRead = 0; nError == 0 && qwHave < qwBytes && !bEnded; qwHave += nRead)
            nError = readSome(0, std::min<std::uint64_t>(buffer.size(), qwBytes - qwHave), nRead);
        return nError;
    };

    // Where the record's size field starts: how the user finds it in the file.
    std::uint64_t qwOffset = 0;
    for (std::size_t nIndex = 1;; ++nIndex) {
        int nError = fill(4);
        const bool bSized = nEnd - nStart >= 4;
        const std::uint32_t dwSize = bSized ? Vantry::GetU32(buffer.data() + nStart) : 0;
        const std::uint64_t qwNeeded = 4 + std::uint64_t(dwSize);
        // The driver never makes a larger record. Such a size in the first
        // record says the file is no record file (as a text file's first four
        // characters do); later, a file that ends within the record is still
        // reported as cut there, like any other.
        const bool bPlausible = dwSize <= Vantry::MAX_RECORD_SIZE;
        std::uint64_t qwHave = nEnd - nStart;
        if (nError == 0 && bSized && bPlausible)
            nError = fill(std::size_t(qwNeeded));
        else if (nError == 0 && bSized && nIndex > 1)
            nError = skip(qwNeeded, qwHave);
        if (nError != 0) {
            strError = strPath + ": " + std::strerror(nError);
            return false;
        }
        if (bPlausible)
            qwHave = nEnd - nStart;
        if (qwHave == 0)
            return true;
        const bool bWhole = bSized && qwHave >= qwNeeded;
        const auto record = [&] {
            return "record " + std::to_string(nIndex) + " at byte " + std::to_string(qwOffset);
        };
        if (nIndex == 1 && !(bWhole && bPlausible)) {
            strError = strPath + ": not a record file";
            return false;
        }
        if (!bWhole) {
            strError = strPath + ": truncated: " + record() + " runs past the end of the file";
            return false;
        }
        if (!bPlausible) {
            strError = strPath + ": " + record() + " is malformed: its size, " +
                       std::to_string(dwSize) + " bytes, is more than any record has";
            return false;
        }
        const CRecordView view(std::span<const std::uint8_t>(buffer).subspan(nStart + 4, dwSize));
        if (!view.IsComplete()) {
            const auto nType = view.EventType();
            strError = strPath + ": " + record() + " is malformed: " + std::to_string(view.Size()) +
                       " bytes cannot hold " +
                       (nType ? std::string("its ") + TypeName(*nType) + " record"
                              : std::string("an event type"));
            return false;
        }
        onRecord(view.Bytes());
        nStart += 4 + std::size_t(dwSize);
        qwOffset += 4 + std::uint64_t(dwSize);
    }
}

// One call for the size and the bytes: half the calls of a flood of small
// records, and a reader of a pipe gets each record whole.
bool WriteFileRecord(int hFd, std::span<const std::uint8_t> record) {
    std::uint8_t size[4];
    Vantry::PutU32(size, std::uint32_t(record.size()));
    iovec parts[2] = {{size, 4}, {const_cast<std::uint8_t*>(record.data()), record.size()}};
    ssize_t nResult;
    do
        nResult = writev(hFd, parts, 2);
    while (nResult < 0 && errno == EINTR);
    if (nResult < 0)
        return false;
    const std::size_t nWritten = std::size_t(nResult);
    if (nWritten < 4)
        return WriteAll(hFd, size + nWritten, 4 - nWritten) &&
               WriteAll(hFd, record.data(), record.size());
    return WriteAll(hFd, record.data() + (nWritten - 4), record.size() - (nWritten - 4));
}
