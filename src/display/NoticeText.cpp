#include "NoticeText.h"

using namespace Vantry;

namespace NoticeText {

std::optional<std::string> Describe(const CRecordView& record) {
    if (record.EventType() != CAPTURE_DRIVER_NOTICE ||
        record.Size() < RECORD_DATA_OFFSET + NOTICE_PAYLOAD_SIZE)
        return std::nullopt;
    const std::uint8_t* pPayload = record.Bytes().data() + RECORD_DATA_OFFSET;
    const std::string strValue = std::to_string(GetU32(pPayload + 4));
    switch (GetU32(pPayload)) {
    case NOTICE_RECORDS_DROPPED:
        return "the driver dropped " + strValue + " records: its queue for this port was full";
    case NOTICE_PROCESS_NOT_TRACED:
        return "process " + strValue +
               " uses the port but another program traces it: its traffic is not captured";
    case NOTICE_BYTES_UNREADABLE:
        return strValue + " bytes could not be read from the process that moved them";
    case NOTICE_EVENTS_LOST:
        return "opens and closes of the port may be missing";
    default:
        return std::nullopt;
    }
}

} // namespace NoticeText
