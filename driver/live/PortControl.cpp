#include "PortControl.h"

#include "VantryProtocol.h"

// The kernel's request numbers, as the ioctl arrives.
#include <asm/ioctls.h>

using namespace Vantry;

namespace PortControl {

namespace {

// A break whose length the caller left to the driver lasts this long.
constexpr std::uint32_t DEFAULT_BREAK_MS = 250;

// The kernel's own codes of a call to be restarted (ERESTARTSYS to
// ERESTART_RESTARTBLOCK): seen at the call's exit, never by the caller.
constexpr int FIRST_RESTART = 512;
constexpr int LAST_RESTART = 516;

} // namespace

bool IsControl(std::uint32_t dwRequest) {
    return Decode(dwRequest, 0).has_value();
}

bool PointsToValue(std::uint32_t dwRequest) {
    return dwRequest == TIOCMSET || dwRequest == TIOCMBIS || dwRequest == TIOCMBIC;
}

std::array<std::uint8_t, 8> CControlRecord::Payload() const {
    std::array<std::uint8_t, 8> payload;
    PutU32(payload.data(), dwFirst);
    PutU32(payload.data() + 4, dwSecond);
    return payload;
}

std::optional<CControlRecord> Decode(std::uint32_t dwRequest, std::uint64_t qwValue) {
    // The kernel reads these arguments as ints.
    const std::uint32_t dwValue = std::uint32_t(qwValue);
    switch (dwRequest) {
    case TIOCMSET:
        return CControlRecord{CAPTURE_MODEM_LINES, MODEM_SET, dwValue};
    case TIOCMBIS:
        return CControlRecord{CAPTURE_MODEM_LINES, MODEM_RAISE, dwValue};
    case TIOCMBIC:
        return CControlRecord{CAPTURE_MODEM_LINES, MODEM_LOWER, dwValue};
    case TCSBRK:
        // tcdrain is TCSBRK with a non-zero argument.
        return dwValue == 0 ? CControlRecord{CAPTURE_PORT_CONTROL, CONTROL_BREAK, DEFAULT_BREAK_MS}
                            : CControlRecord{CAPTURE_PORT_CONTROL, CONTROL_DRAIN, 0};
    case TCSBRKP:
        // In tenths of a second; 0 asks for the default.
        return CControlRecord{CAPTURE_PORT_CONTROL, CONTROL_BREAK,
                              dwValue != 0 ? dwValue * 100 : DEFAULT_BREAK_MS};
    case TIOCSBRK:
        return CControlRecord{CAPTURE_PORT_CONTROL, CONTROL_BREAK_ON, 0};
    case TIOCCBRK:
        return CControlRecord{CAPTURE_PORT_CONTROL, CONTROL_BREAK_OFF, 0};
    case TCFLSH:
        return CControlRecord{CAPTURE_PORT_CONTROL, CONTROL_FLUSH, dwValue};
    case TCXONC:
        return CControlRecord{CAPTURE_PORT_CONTROL, CONTROL_FLOW, dwValue};
    default:
        return std::nullopt;
    }
}

std::optional<CControlRecord> Failed(std::uint32_t dwRequest, int nError) {
    if (nError >= FIRST_RESTART && nError <= LAST_RESTART)
        return std::nullopt;
    return CControlRecord{CAPTURE_CALL_FAILED, dwRequest, std::uint32_t(nError)};
}

} // namespace PortControl
