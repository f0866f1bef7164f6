// Writes a pane's text to a file the way the export defines it: the UTF-16
// little-endian code units, no byte-order mark, no terminating null, into the
// chosen path (truncated or created; never anything but a regular file),
// flushed to disk.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace PaneExport {

// 0, or the errno of the step that failed. A failed open writes nothing; a
// failed write leaves in the file what was written before it.
int Write(const std::string& strPath, std::u16string_view text);
// Nothing on success, otherwise the message that reports the failure.
std::optional<std::string> Save(const std::string& strPath, std::u16string_view text);
// The same for bytes written as they are (the timeline's UTF-8 text or CSV).
std::optional<std::string> SaveBytes(const std::string& strPath, std::string_view bytes);

} // namespace PaneExport
