// The words for the records beyond the panes' events: a process named, the
// modem lines, break, drain, flush and flow, the flow-control settings and a
// call that failed. English, as the panes' event lines.
#pragma once

#include "CRecordView.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace ControlText {

// Empty for a record of another type or one that is not complete.
std::optional<std::string> Describe(const CRecordView& record);

// Bytes a process chose (its command name, its executable's path) with "?"
// for control codes, so that they never act on a terminal.
std::string Printable(std::span<const std::uint8_t> bytes);

} // namespace ControlText
