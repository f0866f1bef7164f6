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
};

namespace TermiosDecoder {

// Sizes of the kernel's struct termios and struct termios2 on this
// architecture (not the C library's struct termios).
std::size_t TermiosSize();
std::size_t Termios2Size();

enum class ESetCommand { None, Termios, Termios2 };
// Which kind of set-attributes request an ioctl command is.
ESetCommand ClassifyIoctl(std::uint64_t qwCommand);

// Decodes the kernel layout; `bytes` must hold the size of its kind.
CLineSettings Decode(std::span<const std::uint8_t> bytes, bool bTermios2);

// The current settings of an open terminal (TCGETS2 on our own fd).
std::optional<CLineSettings> Query(int hFd);

} // namespace TermiosDecoder
