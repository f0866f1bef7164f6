#include "TermiosDecoder.h"

#include "VantryProtocol.h"

// The kernel's own layout and flag values: the C library's termios differs
// (no speed fields, different size), and its header clashes with these.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace TermiosDecoder {

namespace {

struct CBaudCode {
    unsigned int nCode;
    std::uint32_t dwRate;
};

constexpr CBaudCode BAUD_CODES[] = {
    {B0, 0},
    {B50, 50},
    {B75, 75},
    {B110, 110},
    {B134, 134},
    {B150, 150},
    {B200, 200},
    {B300, 300},
    {B600, 600},
    {B1200, 1200},
    {B1800, 1800},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
    {B500000, 500000},
    {B576000, 576000},
    {B921600, 921600},
    {B1000000, 1000000},
    {B1152000, 1152000},
    {B1500000, 1500000},
    {B2000000, 2000000},
    {B2500000, 2500000},
    {B3000000, 3000000},
    {B3500000, 3500000},
    {B4000000, 4000000},
};

std::uint32_t Field(std::span<const std::uint8_t> bytes, std::size_t nOffset) {
    std::uint32_t dwValue;
    std::memcpy(&dwValue, bytes.data() + nOffset, sizeof dwValue);
    return dwValue;
}

} // namespace

// struct termio of <asm/termios.h> (whose header clashes with termbits):
// four 16-bit flag words, c_line and 8 control characters.
constexpr std::size_t TERMIO_SIZE = 18;
constexpr std::size_t TERMIO_CFLAG_OFFSET = 4;
constexpr std::size_t TERMIO_CC_OFFSET = 9;

std::size_t SizeOf(ESetCommand eKind) {
    switch (eKind) {
    case ESetCommand::Termio:
        return TERMIO_SIZE;
    case ESetCommand::Termios:
        return sizeof(struct termios);
    case ESetCommand::Termios2:
        return sizeof(struct termios2);
    default:
        return 0;
    }
}

std::optional<CLineSettings> Query(int hFd) {
    struct termios2 current;
    // The raw system call: <sys/ioctl.h> would clash with the kernel's termbits.
    if (syscall(SYS_ioctl, hFd, TCGETS2, &current) != 0)
        return std::nullopt;
    return Decode({reinterpret_cast<const std::uint8_t*>(&current), sizeof current},
                  ESetCommand::Termios2);
}

ESetCommand ClassifyIoctl(std::uint64_t qwCommand) {
    switch (qwCommand) {
    case TCSETA:
    case TCSETAW:
    case TCSETAF:
        return ESetCommand::Termio;
    case TCSETS:
    case TCSETSW:
    case TCSETSF:
        return ESetCommand::Termios;
    case TCSETS2:
    case TCSETSW2:
    case TCSETSF2:
        return ESetCommand::Termios2;
    default:
        return ESetCommand::None;
    }
}

CLineSettings Decode(std::span<const std::uint8_t> bytes, ESetCommand eKind) {
    const bool bTermios2 = eKind == ESetCommand::Termios2;
    const tcflag_t dwCflag =
        eKind == ESetCommand::Termio
            ? tcflag_t(bytes[TERMIO_CFLAG_OFFSET] | bytes[TERMIO_CFLAG_OFFSET + 1] << 8)
            : Field(bytes, offsetof(struct termios, c_cflag));
    CLineSettings settings;
    const bool bTermio = eKind == ESetCommand::Termio;
    // termio's c_cc holds the same first characters as termios's.
    const std::size_t nCc = bTermio ? TERMIO_CC_OFFSET : offsetof(struct termios, c_cc);
    const tcflag_t dwIflag = bTermio ? tcflag_t(bytes[0] | bytes[1] << 8)
                                     : Field(bytes, offsetof(struct termios, c_iflag));
    settings.byFlow = std::uint8_t(((dwCflag & CRTSCTS) ? Vantry::FLOW_RTS_CTS : 0) |
                                   ((dwIflag & IXON) ? Vantry::FLOW_XON_OUT : 0) |
                                   ((dwIflag & IXOFF) ? Vantry::FLOW_XON_IN : 0));
    settings.byVmin = bytes[nCc + VMIN];
    settings.byVtime = bytes[nCc + VTIME];

    // The enumerated fields are masked out before any flag is looked at.
    const unsigned int nBaud = dwCflag & CBAUD;
    if (nBaud == BOTHER) {
        if (bTermios2)
            settings.dwBaudRate = Field(bytes, offsetof(struct termios2, c_ospeed));
    } else {
        for (const auto& code : BAUD_CODES) {
            if (code.nCode == nBaud)
                settings.dwBaudRate = code.dwRate;
        }
    }

    switch (dwCflag & CSIZE) {
    case CS5:
        settings.byWordLength = 5;
        break;
    case CS6:
        settings.byWordLength = 6;
        break;
    case CS7:
        settings.byWordLength = 7;
        break;
    default:
        settings.byWordLength = 8;
        break;
    }

    settings.byStopBits = (dwCflag & CSTOPB) ? Vantry::STOP_BITS_2 : Vantry::STOP_BITS_1;
    if (!(dwCflag & PARENB))
        settings.byParity = Vantry::PARITY_NONE;
    else if (dwCflag & CMSPAR)
        settings.byParity = (dwCflag & PARODD) ? Vantry::PARITY_MARK : Vantry::PARITY_SPACE;
    else
        settings.byParity = (dwCflag & PARODD) ? Vantry::PARITY_ODD : Vantry::PARITY_EVEN;
    return settings;
}

} // namespace TermiosDecoder
