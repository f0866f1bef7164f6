#include "CTimelineFind.h"

#include <algorithm>

namespace {

std::uint8_t Folded(std::uint8_t byValue) {
    return byValue >= 'A' && byValue <= 'Z' ? std::uint8_t(byValue + ('a' - 'A')) : byValue;
}

std::uint8_t OtherCase(std::uint8_t byValue) {
    if (byValue >= 'a' && byValue <= 'z')
        return std::uint8_t(byValue - ('a' - 'A'));
    return Folded(byValue);
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// The Latin-1 bytes of UTF-8 text; empty when a character has none.
std::vector<std::uint8_t> Latin1(std::string_view strText) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < strText.size(); ++i) {
        const std::uint8_t byLead = std::uint8_t(strText[i]);
        if (byLead < 0x80) {
            bytes.push_back(byLead);
        } else if ((byLead == 0xC2 || byLead == 0xC3) && i + 1 < strText.size() &&
                   (std::uint8_t(strText[i + 1]) & 0xC0) == 0x80) {
            bytes.push_back(std::uint8_t((byLead & 0x03) << 6 | (strText[++i] & 0x3F)));
        } else {
            return {};
        }
    }
    return bytes;
}

} // namespace

bool CTimelineFind::Set(std::string_view strText, bool bHex, std::string& strError) {
    if (!bHex) {
        m_pattern = Latin1(strText);
        m_strWords = strText;
        m_bFoldCase = true;
        return true;
    }
    std::vector<std::uint8_t> pattern;
    int nHigh = -1;
    for (const char ch : strText) {
        if (ch == ' ' || ch == '\t')
            continue;
        const int nDigit = HexDigit(ch);
        if (nDigit < 0) {
            strError = std::string("'") + ch + "' is not a hex digit";
            return false;
        }
        if (nHigh < 0) {
            nHigh = nDigit;
        } else {
            pattern.push_back(std::uint8_t(nHigh << 4 | nDigit));
            nHigh = -1;
        }
    }
    if (nHigh >= 0) {
        strError = "hex bytes are pairs of digits, such as 41 54 0D";
        return false;
    }
    m_pattern = std::move(pattern);
    m_strWords.clear();
    m_bFoldCase = false;
    return true;
}

bool CTimelineFind::MatchesAt(std::span<const std::uint8_t> bytes, std::size_t nAt) const {
    if (m_pattern.empty() || bytes.size() - nAt < m_pattern.size())
        return false;
    for (std::size_t i = 0; i < m_pattern.size(); ++i) {
        const std::uint8_t byValue = bytes[nAt + i];
        if (byValue != m_pattern[i] && !(m_bFoldCase && Folded(byValue) == Folded(m_pattern[i])))
            return false;
    }
    return true;
}

std::size_t CTimelineFind::CountIn(std::span<const std::uint8_t> bytes) const {
    std::size_t nCount = 0;
    for (std::size_t i = Find(bytes, 0); i < bytes.size(); i = Find(bytes, i + 1))
        ++nCount;
    return nCount;
}

bool CTimelineFind::MatchesWords(std::string_view strWords) const {
    if (m_strWords.empty())
        return false;
    const auto equal = [](char a, char b) {
        return Folded(std::uint8_t(a)) == Folded(std::uint8_t(b));
    };
    return std::search(strWords.begin(), strWords.end(), m_strWords.begin(), m_strWords.end(),
                       equal) != strWords.end();
}

std::uint16_t CTimelineFind::MaskOf(std::span<const std::uint8_t> bytes, std::size_t nFrom) const {
    std::uint16_t wMask = 0;
    const std::size_t nEnd = std::min(bytes.size(), nFrom + 16);
    const std::size_t nStart = nFrom >= m_pattern.size() ? nFrom + 1 - m_pattern.size() : 0;
    for (std::size_t i = nStart; i < nEnd; ++i) {
        if (!MatchesAt(bytes, i))
            continue;
        for (std::size_t k = std::max(i, nFrom); k < std::min(nEnd, i + m_pattern.size()); ++k)
            wMask |= std::uint16_t(1u << (k - nFrom));
    }
    return wMask;
}

std::optional<std::size_t> CTimelineFind::NextStart(std::span<const std::uint8_t> bytes,
                                                    std::size_t nFrom) const {
    const std::size_t nStart = Find(bytes, nFrom);
    return nStart < bytes.size() ? std::optional(nStart) : std::nullopt;
}

// Every record passes through here as it comes: its first byte is looked
// for in a tight loop before a whole match is tried.
std::size_t CTimelineFind::Find(std::span<const std::uint8_t> bytes, std::size_t nFrom) const {
    if (m_pattern.empty() || bytes.size() < m_pattern.size())
        return bytes.size();
    const std::uint8_t byFirst = m_pattern[0];
    const std::uint8_t byOther = m_bFoldCase ? OtherCase(byFirst) : byFirst;
    for (std::size_t i = nFrom; i + m_pattern.size() <= bytes.size(); ++i) {
        if ((bytes[i] == byFirst || bytes[i] == byOther) && MatchesAt(bytes, i))
            return i;
    }
    return bytes.size();
}

std::optional<std::size_t> CTimelineFind::PreviousStart(std::span<const std::uint8_t> bytes,
                                                        std::size_t nBefore) const {
    for (std::size_t i = std::min(nBefore, bytes.size()); i-- > 0;) {
        if (MatchesAt(bytes, i))
            return i;
    }
    return std::nullopt;
}
