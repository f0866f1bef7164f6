// A received-data record of the given length, as the formatter benchmarks
// feed it.
#pragma once

#include "VantryProtocol.h"

#include <cstdint>
#include <vector>

inline std::vector<std::uint8_t> DataRecord(std::uint32_t dwLength) {
    std::vector<std::uint8_t> record(Vantry::RECORD_DATA_OFFSET + dwLength);
    Vantry::PutU32(record.data() + Vantry::RECORD_DATA_LENGTH_OFFSET, dwLength);
    record[Vantry::RECORD_EVENT_TYPE_OFFSET] = Vantry::CAPTURE_DATA_READ;
    for (std::uint32_t i = 0; i < dwLength; ++i)
        record[Vantry::RECORD_DATA_OFFSET + i] = static_cast<std::uint8_t>(i * 7);
    return record;
}
