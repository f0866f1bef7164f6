// The texts with which a failed file operation is reported to the user, one
// per cause, chosen from the errno the system gave.
#pragma once

#include <string>
#include <string_view>

namespace FileErrorText {

// The id of the cause's text (61856 to 61870) for an errno value.
int CauseId(int nErrno);
// The text of a cause id, UTF-8, with %1 where the path goes.
std::string_view Text(int nId);
// The text for an errno value with %1 replaced by the path.
std::string Message(int nErrno, std::string_view strPath);

} // namespace FileErrorText
