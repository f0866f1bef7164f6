// The decoder against the kernel's own layout, built with the kernel's own
// constants, for the frames and rates TraceTest's applications cannot set on
// a pty (there the common ones are checked end to end).
#include "TermiosDecoder.h"

#include "VantryProtocol.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

using TermiosDecoder::ESetCommand;

CLineSettings DecodeCflag(tcflag_t dwCflag, speed_t dwOspeed, ESetCommand eKind) {
    struct termios2 tio;
    std::memset(&tio, 0xA5, sizeof tio); // flags other than c_cflag must not matter
    tio.c_cflag = dwCflag;
    tio.c_ospeed = dwOspeed;
    std::uint8_t termio[18];
    std::memset(termio, 0xA5, sizeof termio);
    termio[4] = std::uint8_t(dwCflag); // struct termio: 16-bit c_cflag at 4
    termio[5] = std::uint8_t(dwCflag >> 8);
    if (eKind == ESetCommand::Termio)
        return TermiosDecoder::Decode(termio, eKind);
    return TermiosDecoder::Decode({reinterpret_cast<const std::uint8_t*>(&tio), sizeof tio}, eKind);
}

TEST(TermiosDecoderTest, RatesFramesAndParities) {
    struct {
        tcflag_t dwCflag;
        speed_t dwOspeed;
        ESetCommand eKind;
        std::optional<std::uint32_t> dwRate;
        std::uint8_t byStop, byParity, byBits;
    } const cases[] = {
        {B4000000 | CS6 | PARENB | PARODD | CMSPAR, 0, ESetCommand::Termios2, 4000000, 0, 3, 6},
        {B50 | CS5 | PARENB | CMSPAR, 0, ESetCommand::Termios2, 50, 0, 4, 5},
        {B0 | CS8, 0, ESetCommand::Termios, 0, 0, 0, 8},
        // CMSPAR without PARENB is no parity at all.
        {B9600 | CS8 | CMSPAR | PARODD, 0, ESetCommand::Termios, 9600, 0, 0, 8},
        // Custom rates: the speed field of termios2, none in plain termios.
        {BOTHER | CS8, 250000, ESetCommand::Termios2, 250000, 0, 0, 8},
        {BOTHER | CS8, 250000, ESetCommand::Termios, std::nullopt, 0, 0, 8},
        // The input-speed bits (CIBAUD) do not leak into the output speed.
        {B1200 | (B9600 << IBSHIFT) | CS8, 0, ESetCommand::Termios2, 1200, 0, 0, 8},
        // The old termio: 16-bit flags, read from their own place.
        {B115200 | CS7 | PARENB | CSTOPB, 0, ESetCommand::Termio, 115200, 2, 2, 7},
        {B1200 | CS5 | PARENB | PARODD, 0, ESetCommand::Termio, 1200, 0, 1, 5},
    };
    for (const auto& c : cases) {
        const auto s = DecodeCflag(c.dwCflag, c.dwOspeed, c.eKind);
        EXPECT_EQ(std::tuple(s.dwBaudRate, int(s.byStopBits), int(s.byParity), int(s.byWordLength)),
                  std::tuple(c.dwRate, int(c.byStop), int(c.byParity), int(c.byBits)))
            << std::oct << c.dwCflag;
    }
    // Every way to set, whatever the C library chose; a get sets nothing.
    using enum ESetCommand;
    const std::pair<std::uint64_t, ESetCommand> commands[] = {
        {TCSETA, Termio},     {TCSETAW, Termio},  {TCSETAF, Termio},   {TCSETS, Termios},
        {TCSETSW, Termios},   {TCSETSF, Termios}, {TCSETS2, Termios2}, {TCSETSW2, Termios2},
        {TCSETSF2, Termios2}, {TCGETS2, None}};
    for (const auto& [qwCode, eKind] : commands)
        EXPECT_EQ(TermiosDecoder::ClassifyIoctl(qwCode), eKind) << std::hex << qwCode;
}

} // namespace
