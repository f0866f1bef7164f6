// The words for a driver notice: records or bytes the driver could not
// capture, or a process whose traffic it cannot see. Lost traffic is never
// silent, in the window or on the console.
#pragma once

#include "CRecordView.h"

#include <optional>
#include <string>

namespace NoticeText {

// Empty for a record that is no complete driver notice, or for a code this
// program does not know.
std::optional<std::string> Describe(const CRecordView& record);

} // namespace NoticeText
