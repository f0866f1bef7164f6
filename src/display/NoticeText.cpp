#include "NoticeText.h"

using namespace Vantry;

namespace NoticeText {

namespace {

const char* CallName(std::uint32_t dwCall) {
    switch (dwCall) {
    case CALL_SENDFILE:
        return "sendfile";
    case CALL_SPLICE:
        return "splice";
    case CALL_COPY_FILE_RANGE:
        return "copy_file_range";
    case CALL_32_BIT:
        return "a 32-bit system call";
    case CALL_IO_URING:
        return "io_uring";
    case CALL_IO_SUBMIT:
        return "io_submit";
    default:
        return "a call";
    }
}

} // namespace

std::optional<std::string> Describe(const CRecordView& record) {
    if (record.EventType() != CAPTURE_DRIVER_NOTICE ||
        record.Size() < RECORD_DATA_OFFSET + NOTICE_PAYLOAD_SIZE)
        return std::nullopt;
    const std::uint8_t* pPayload = record.Bytes().data() + RECORD_DATA_OFFSET;
    const std::uint32_t dwValue = GetU32(pPayload + 4);
    const std::string strValue = std::to_string(dwValue);
    // Who it was: the record's process, and its command name where the
    // notice carries one after the code and the value.
    std::string strProcess = "process " + std::to_string(record.GetStamp()->dwProcessId);
    const auto name = record.Bytes().subspan(RECORD_DATA_OFFSET + NOTICE_PAYLOAD_SIZE);
    if (!name.empty())
        strProcess += " (" + std::string(name.begin(), name.end()) + ")";
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
    case NOTICE_PROCESS_OF_OTHER_USER:
        return "process " + strValue + " of another user holds the port: its traffic is not shown";
    case NOTICE_BYTES_NOT_CAPTURED:
        return strValue + " bytes of one read or write were not captured: the queue for this " +
               "port was full";
    case NOTICE_CALL_NOT_DECODED:
        return strProcess + " moved data through " + CallName(dwValue) +
               ", which is not decoded: that data is not captured";
    case NOTICE_TRACED_LATE:
        return strProcess + " was traced " + strValue +
               " us after it opened or received the port: what it read or wrote before then " +
               "may be missing";
    case NOTICE_USED_UNTRACED:
        return strProcess + " used the port before it could be traced: its traffic is missing";
    default:
        return std::nullopt;
    }
}

} // namespace NoticeText
