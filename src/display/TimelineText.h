// The timeline in columns, for its exports and the console: time,
// direction, pid, command, then hex and characters or the event's words.
#pragma once

#include "CTimelineModel.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace TimelineText {

// ">" written by the application, "<" read by it, "*" an event.
char DirectionMark(unsigned nDirection);
// The pid and the command name in fixed widths; blank for no process.
std::string ProcessColumns(std::uint32_t dwPid, std::string_view strCommand);
// One line of text, without its line break.
std::string TextLine(const CTimelineModel::CLine& line);

inline constexpr std::string_view CSV_HEADER = "time,direction,pid,command,hex,text\r\n";
// The row of a record from its first line and all its bytes, with its CR LF.
std::string CsvRow(const CTimelineModel::CLine& first, std::span<const std::uint8_t> bytes);

} // namespace TimelineText
