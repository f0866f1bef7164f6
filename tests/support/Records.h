// Builds event records and record files byte by byte, the way the driver
// hands them over, so tests never depend on the decoder they check.
#pragma once

#include "CCaptureRecord.h"
#include "VantryProtocol.h"

#include <gtest/gtest.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace Records {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Make(std::int8_t nType, const Bytes& payload = {}, std::uint32_t dwDataLength = 0) {
    Bytes record(24 + payload.size(), 0);
    Vantry::PutU32(record.data() + 16, dwDataLength);
    record[20] = static_cast<std::uint8_t>(nType);
    std::copy(payload.begin(), payload.end(), record.begin() + 24);
    return record;
}

inline Bytes Data(std::int8_t nType, const Bytes& payload) {
    return Make(nType, payload, static_cast<std::uint32_t>(payload.size()));
}

inline Bytes Read(const Bytes& payload) {
    return Data(Vantry::CAPTURE_DATA_READ, payload);
}
inline Bytes Written(const Bytes& payload) {
    return Data(Vantry::CAPTURE_DATA_WRITTEN, payload);
}

inline Bytes Read(const std::string& text) {
    return Read(Bytes(text.begin(), text.end()));
}

inline Bytes Baud(std::uint32_t dwRate) {
    Bytes payload(4);
    Vantry::PutU32(payload.data(), dwRate);
    return Make(Vantry::CAPTURE_BAUD_RATE, payload);
}

inline Bytes LineControl(std::uint8_t byStop, std::uint8_t byParity, std::uint8_t byBits) {
    return Make(Vantry::CAPTURE_LINE_CONTROL, {byStop, byParity, byBits});
}

// The record with the time, source pid and sequence number the driver adds.
inline Bytes Stamped(Bytes record, std::uint64_t qwTime, std::uint32_t dwPid = 0,
                     std::uint32_t dwSequence = 0) {
    Vantry::PutU64(record.data() + Vantry::RECORD_TIME_OFFSET, qwTime);
    Vantry::PutU32(record.data() + Vantry::RECORD_PID_OFFSET, dwPid);
    Vantry::PutU32(record.data() + Vantry::RECORD_SEQUENCE_OFFSET, dwSequence);
    return record;
}

// The driver's naming of process dwPid (uid 1000), stamped with its pid.
inline Bytes Process(std::uint32_t dwPid, const std::string& strCommand,
                     const std::string& strPath) {
    Bytes payload(Vantry::PROCESS_PATH_OFFSET);
    Vantry::PutU32(payload.data(), dwPid);
    Vantry::PutU32(payload.data() + 4, 1000);
    std::copy(strCommand.begin(), strCommand.end(), payload.begin() + 8);
    payload.insert(payload.end(), strPath.begin(), strPath.end());
    return Stamped(Make(Vantry::CAPTURE_PROCESS, payload), 0, dwPid);
}

inline std::uint32_t SequenceOf(const Bytes& record) {
    return Vantry::GetU32(record.data() + Vantry::RECORD_SEQUENCE_OFFSET);
}

inline CCaptureRecord Owned(const Bytes& record) {
    return CCaptureRecord::CopyOf(record);
}

inline Bytes File(const std::vector<Bytes>& records) {
    Bytes file;
    for (const auto& record : records) {
        std::uint8_t size[4];
        Vantry::PutU32(size, static_cast<std::uint32_t>(record.size()));
        file.insert(file.end(), size, size + 4);
        file.insert(file.end(), record.begin(), record.end());
    }
    return file;
}

// A record as the capture tests compare it: its type, pid and payload.
struct CRecord {
    std::int8_t nType = 0;
    std::uint32_t dwPid = 0;
    std::string strData;
    bool operator==(const CRecord&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const CRecord& record) {
    return out << "{type " << int(record.nType) << ", pid " << record.dwPid << ", "
               << testing::PrintToString(record.strData) << "}";
}

// The record a builder above made, as done by process nPid.
inline CRecord Of(pid_t nPid, const Bytes& record) {
    return {std::int8_t(record[Vantry::RECORD_EVENT_TYPE_OFFSET]), std::uint32_t(nPid),
            std::string(record.begin() + Vantry::RECORD_DATA_OFFSET, record.end())};
}

} // namespace Records
