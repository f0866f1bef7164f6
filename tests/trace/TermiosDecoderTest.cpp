// The decoder against the kernel's own layout, built with the kernel's own
// constants, for the frames and rates TraceTest's applications cannot set on
// a pty (there the common ones are checked end to end).
#include "TermiosDecoder.h"

#include "VantryProtocol.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

CLineSettings DecodeCflag(tcflag_t dwCflag, speed_t dwOspeed, bool bTermios2) {
    struct termios2 tio;
    std::memset(&tio, 0xA5, sizeof tio); // flags other than c_cflag must not matter
    tio.c_cflag = dwCflag;
    tio.c_ospeed = dwOspeed;
    return TermiosDecoder::Decode({reinterpret_cast<const std::uint8_t*>(&tio), sizeof tio},
                                  bTermios2);
}

TEST(TermiosDecoderTest, RatesFramesAndParities) {
    struct {
        tcflag_t dwCflag;
        speed_t dwOspeed;
        bool bTermios2;
        std::optional<std::uint32_t> dwRate;
        std::uint8_t byStop, byParity, byBits;
    } const cases[] = {
        {B4000000 | CS6 | PARENB | PARODD | CMSPAR, 0, true, 4000000, 0, 3, 6},
        {B50 | CS5 | PARENB | CMSPAR, 0, true, 50, 0, 4, 5},
        {B0 | CS8, 0, false, 0, 0, 0, 8},
        // CMSPAR without PARENB is no parity at all.
        {B9600 | CS8 | CMSPAR | PARODD, 0, false, 9600, 0, 0, 8},
        // Custom rates: the speed field of termios2, none in plain termios.
        {BOTHER | CS8, 250000, true, 250000, 0, 0, 8},
        {BOTHER | CS8, 250000, false, std::nullopt, 0, 0, 8},
        // The input-speed bits (CIBAUD) do not leak into the output speed.
        {B1200 | (B9600 << IBSHIFT) | CS8, 0, true, 1200, 0, 0, 8},
    };
    for (const auto& c : cases) {
        const auto settings = DecodeCflag(c.dwCflag, c.dwOspeed, c.bTermios2);
        EXPECT_EQ(settings.dwBaudRate, c.dwRate) << std::oct << c.dwCflag;
        EXPECT_EQ(settings.byStopBits, c.byStop) << std::oct << c.dwCflag;
        EXPECT_EQ(settings.byParity, c.byParity) << std::oct << c.dwCflag;
        EXPECT_EQ(settings.byWordLength, c.byBits) << std::oct << c.dwCflag;
    }
}

} // namespace
