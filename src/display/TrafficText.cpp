#include "TrafficText.h"

#include <cstdio>

using namespace Vantry;

namespace TrafficText {

std::size_t RenderDataLine(std::span<const std::uint8_t> bytes, char16_t* pBuffer) {
    static constexpr char16_t HEX_DIGITS[] = u"0123456789ABCDEF";
    char16_t* p = pBuffer;
    for (std::size_t i = 0; i < 16; ++i) {
        if (i < bytes.size()) {
            *p++ = HEX_DIGITS[bytes[i] >> 4];
            *p++ = HEX_DIGITS[bytes[i] & 0xF];
        }
        *p++ = u'\t';
    }
    for (const std::uint8_t byValue : bytes)
        *p++ = ByteCharacter(byValue);
    *p++ = u'\r';
    *p++ = u'\n';
    return static_cast<std::size_t>(p - pBuffer);
}

std::u16string UnsignedDecimal(std::uint64_t qwValue) {
    char16_t digits[20];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + qwValue % 10);
        qwValue /= 10;
    } while (qwValue != 0);
    return std::u16string(std::make_reverse_iterator(digits + n),
                          std::make_reverse_iterator(digits));
}

static std::u16string Widen(const char* pszAscii, int nLength) {
    return std::u16string(pszAscii, pszAscii + nLength);
}

std::optional<std::u16string> EventLine(const CRecordView& record) {
    char szLine[96];
    switch (*record.EventType()) {
    case CAPTURE_PORT_OPENED:
        return u"Port opened\r\n";
    case CAPTURE_PORT_CLOSED:
        return u"Port closed\r\n";
    case CAPTURE_BAUD_RATE:
        return Widen(szLine, std::snprintf(szLine, sizeof szLine, "Baud rate set to %d\r\n",
                                           static_cast<int>(record.BaudRate())));
    case CAPTURE_LINE_CONTROL: {
        const auto strStop = StopBitsText(record.StopBits());
        const auto strParity = ParityText(record.Parity());
        return Widen(szLine,
                     std::snprintf(szLine, sizeof szLine,
                                   "StopBits: %.*s, Parity: %.*s parity, WordLength: %d\r\n",
                                   static_cast<int>(strStop.size()), strStop.data(),
                                   static_cast<int>(strParity.size()), strParity.data(),
                                   static_cast<int>(record.WordLength())));
    }
    default:
        return std::nullopt;
    }
}

} // namespace TrafficText
