// The texts a pane shows: hex-dump lines and event lines.
#pragma once

#include "CRecordView.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace TrafficText {

// The longest data line: 16 hex pairs with TABs, 16 characters, CR LF.
inline constexpr std::size_t MAX_LINE_CHARS = 16 * 3 + 16 + 2;

// Writes the line for the held bytes (1 to 16) into pBuffer, which has room for
// MAX_LINE_CHARS; returns its length.
std::size_t RenderDataLine(std::span<const std::uint8_t> bytes, char16_t* pBuffer);

// The column character of one byte: "." for control codes, otherwise U+0000 + v.
inline char16_t ByteCharacter(std::uint8_t byValue) {
    return byValue < 0x20 ? u'.' : static_cast<char16_t>(byValue);
}

std::u16string UnsignedDecimal(std::uint64_t qwValue);

// The event line of an opened, closed, baud-rate or line-control record;
// empty for data records and for types that show nothing.
std::optional<std::u16string> EventLine(const CRecordView& record);

} // namespace TrafficText
