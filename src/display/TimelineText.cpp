#include "TimelineText.h"

#include "TextEncoding.h"
#include "TrafficText.h"

namespace TimelineText {

namespace {

// Wide enough for the wall clock, the largest pid and the longest command.
constexpr std::size_t TIME_WIDTH = 15;
constexpr std::size_t PID_WIDTH = 7;
constexpr std::size_t COMMAND_WIDTH = 15;
constexpr std::size_t HEX_WIDTH = 16 * 3 - 1;

void Pad(std::string& strText, std::size_t nWidth) {
    if (strText.size() < nWidth)
        strText.append(nWidth - strText.size(), ' ');
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    static constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
    std::string strHex;
    for (const std::uint8_t byValue : bytes) {
        if (!strHex.empty())
            strHex += ' ';
        strHex += HEX_DIGITS[byValue >> 4];
        strHex += HEX_DIGITS[byValue & 0xF];
    }
    return strHex;
}

std::string Characters(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    for (const std::uint8_t byValue : bytes)
        text += TrafficText::ByteCharacter(byValue);
    return TextEncoding::ToUtf8(text);
}

std::string CsvField(const std::string& strField) {
    if (strField.find_first_of(",\"\r\n") == std::string::npos)
        return strField;
    std::string strQuoted = "\"";
    for (const char ch : strField)
        strQuoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return strQuoted + "\"";
}

} // namespace

char DirectionMark(unsigned nDirection) {
    return nDirection == CTimelineModel::DIRECTION_WRITTEN ? '>'
           : nDirection == CTimelineModel::DIRECTION_READ  ? '<'
                                                           : '*';
}

std::string ProcessColumns(std::uint32_t dwPid, std::string_view strCommand) {
    std::string strPid = dwPid == 0 ? "" : std::to_string(dwPid);
    std::string strColumns(PID_WIDTH > strPid.size() ? PID_WIDTH - strPid.size() : 0, ' ');
    strColumns += strPid + " ";
    strColumns += strCommand;
    Pad(strColumns, PID_WIDTH + 1 + COMMAND_WIDTH);
    return strColumns;
}

std::string TextLine(const CTimelineModel::CLine& line) {
    std::string strLine = line.strTime;
    Pad(strLine, TIME_WIDTH);
    if (line.bContinuation) {
        strLine += std::string(5 + PID_WIDTH + 1 + COMMAND_WIDTH, ' ');
    } else {
        strLine += std::string("  ") + DirectionMark(line.nDirection) + "  ";
        strLine += ProcessColumns(line.dwPid, line.strCommand);
    }
    strLine += "  ";
    if (line.nDirection == CTimelineModel::DIRECTION_EVENT)
        return strLine + line.strEvent;
    std::string strHex = Hex(line.bytes);
    Pad(strHex, HEX_WIDTH);
    return strLine + strHex + "  " + Characters(line.bytes);
}

std::string CsvRow(const CTimelineModel::CLine& first, std::span<const std::uint8_t> bytes) {
    const bool bEvent = first.nDirection == CTimelineModel::DIRECTION_EVENT;
    return CsvField(first.strTime) + "," + DirectionMark(first.nDirection) + "," +
           (first.dwPid == 0 ? "" : std::to_string(first.dwPid)) + "," +
           CsvField(first.strCommand) + "," + Hex(bytes) + "," +
           CsvField(bEvent ? first.strEvent : Characters(bytes)) + "\r\n";
}

} // namespace TimelineText
