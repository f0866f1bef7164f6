#include "RecordFile.h"

#include "CRecordView.h"

#include "ReadAll.h"

#include <cstring>

static const char* TypeName(std::int8_t nType) {
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

bool LoadRecordFile(const std::string& strPath, CRecordFile& file, std::string& strError) {
    if (const int nError = strPath == "-" ? ReadAll(STDIN_FILENO, file.m_bytes)
                                          : ReadFile(strPath, file.m_bytes)) {
        strError = strPath + ": " + std::strerror(nError);
        return false;
    }
    if (!Vantry::StartsLikeRecordFile(file.m_bytes)) {
        strError = strPath + ": not a record file";
        return false;
    }

    const std::size_t nEnd = Vantry::ForEachFileRecord(
        file.m_bytes, [&](auto record) { file.m_records.push_back(record); });
    for (std::size_t nIndex = 0; nIndex < file.m_records.size(); ++nIndex) {
        const CRecordView view(file.m_records[nIndex]);
        if (!view.IsComplete()) {
            // Where the record's size field starts, 4 bytes before the record.
            const std::size_t nOffset = std::size_t(view.Bytes().data() - file.m_bytes.data()) - 4;
            const auto nType = view.EventType();
            strError = strPath + ": record " + std::to_string(nIndex + 1) + " at byte " +
                       std::to_string(nOffset) + " is malformed: " + std::to_string(view.Size()) +
                       " bytes cannot hold " +
                       (nType ? std::string("its ") + TypeName(*nType) + " record"
                              : std::string("an event type"));
            return false;
        }
    }
    if (nEnd != file.m_bytes.size()) {
        strError = strPath + ": truncated: record " + std::to_string(file.m_records.size() + 1) +
                   " at byte " + std::to_string(nEnd) + " runs past the end of the file";
        return false;
    }
    return true;
}
