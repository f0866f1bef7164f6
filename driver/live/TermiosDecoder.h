// Turns the terminal attributes an application hands to the kernel into the
// monitor's terms: output speed in bits per second and the line-control codes
// of the capture record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

struct CLineSettings {
    std::optional<std::uint32_t> dwBaudRate; // empty: BOTHER without a speed field
    std::uint8_t byStopBits = 0;
    std::uint8_t byParity = 0;
    std::uint8_t byWordLength = 8;
    std::uint8_t byFlow = 0; // Vantry::FLOW_* bits
    std::uint8_t byVmin = 0;
    std::uint8_t byVtime = 0;
};

namespace TermiosDecoder {

// TCSETA* (the old struct termio, 16-bit flags), TCSETS* (struct termios)
// and TCSETS2* (struct termios2), in the kernel's layouts (not the C
// library's struct termios).
enum class ESetCommand { None, Termio, Termios, Termios2 };
// Which kind of set-attributes request an ioctl command is.
ESetCommand ClassifyIoctl(std::uint64_t qwCommand);
// The size of the structure that kind of request hands over.
std::size_t SizeOf(ESetCommand eKind);

// Decodes the kernel layout; `bytes` must hold SizeOf(eKind). A termio has
// no room for CMSPAR: mark and space parity read as odd and even.
CLineSettings Decode(std::span<const std::uint8_t> bytes, ESetCommand eKind);

// The current settings of an open terminal (TCGETS2 on our own fd).
std::optional<CLineSettings> Query(int hFd);

} // namespace TermiosDecoder
