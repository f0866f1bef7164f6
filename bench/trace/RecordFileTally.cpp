#include "RecordFileTally.h"

#include "VantryProtocol.h"

#include <fstream>
#include <iterator>
#include <span>
#include <vector>

CFileTally Tally(const std::string& strPath) {
    std::ifstream file(strPath, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    CFileTally tally;
    Vantry::ForEachFileRecord(bytes, [&](std::span<const std::uint8_t> record) {
        if (record.size() < Vantry::RECORD_DATA_OFFSET)
            return;
        ++tally.qwRecords;
        const auto nType = std::int8_t(record[Vantry::RECORD_EVENT_TYPE_OFFSET]);
        const auto payload = record.subspan(Vantry::RECORD_DATA_OFFSET);
        if (nType == Vantry::CAPTURE_DATA_WRITTEN)
            tally.qwWritten += payload.size();
        if (nType == Vantry::CAPTURE_DRIVER_NOTICE && payload.size() >= 8 &&
            Vantry::GetU32(payload.data()) == Vantry::NOTICE_RECORDS_DROPPED)
            tally.qwDropped += Vantry::GetU32(payload.data() + 4);
    });
    return tally;
}
