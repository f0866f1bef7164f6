// What the timeline finds: typed text, matched in the bytes as Latin-1 and
// in event words, ignoring the case of ASCII letters; or bytes typed as hex.
// Matches may overlap, so that what a line shows depends only on the bytes
// around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CTimelineFind {
public:
    // False with strError, the find unchanged, for hex that is not whole pairs.
    bool Set(std::string_view strText, bool bHex, std::string& strError);
    bool IsActive() const { return !m_pattern.empty() || !m_strWords.empty(); }

    std::size_t CountIn(std::span<const std::uint8_t> bytes) const;
    bool MatchesWords(std::string_view strWords) const;
    // Which of the 16 bytes from nFrom a match covers (bit i: bytes[nFrom + i]).
    std::uint16_t MaskOf(std::span<const std::uint8_t> bytes, std::size_t nFrom) const;
    // Where the first match at or after nFrom starts, or the last match
    // before nBefore.
    std::optional<std::size_t> NextStart(std::span<const std::uint8_t> bytes,
                                         std::size_t nFrom) const;
    std::optional<std::size_t> PreviousStart(std::span<const std::uint8_t> bytes,
                                             std::size_t nBefore) const;

private:
    // Where the first match at or after nFrom starts; bytes.size() for none.
    std::size_t Find(std::span<const std::uint8_t> bytes, std::size_t nFrom) const;
    bool MatchesAt(std::span<const std::uint8_t> bytes, std::size_t nAt) const;

    // The bytes to find in data: empty when the text holds a character
    // beyond Latin-1, which no byte shows.
    std::vector<std::uint8_t> m_pattern;
    std::string m_strWords; // what to find in event words; empty for hex
    bool m_bFoldCase = false;
};
