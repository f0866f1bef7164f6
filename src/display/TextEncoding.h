// Pane text leaves the program in two encodings: UTF-8 for consoles, and
// UTF-16 little-endian code units for exported files.
#pragma once

#include <string>
#include <string_view>

namespace TextEncoding {

std::string ToUtf8(std::u16string_view text);
// No byte-order mark and no terminating null: just the code units.
std::string ToUtf16Le(std::u16string_view text);

} // namespace TextEncoding
