// The port's control calls other than its settings: modem lines, break,
// drain, flush and flow, as the ioctl requests name them, turned into the
// capture's records. Shared by both sources, which differ only in how they
// get a call's request, argument and result.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace PortControl {

// Whether the request is one of these calls.
bool IsControl(std::uint32_t dwRequest);
// Whether its argument points to the value (an int) rather than being it.
bool PointsToValue(std::uint32_t dwRequest);

// A record of one of the types with two 32-bit values.
struct CControlRecord {
    std::int8_t nType = 0;
    std::uint32_t dwFirst = 0;
    std::uint32_t dwSecond = 0;
    std::array<std::uint8_t, 8> Payload() const;
};

// What a call that succeeded did, from its request and value; empty for a
// request that is none of these.
std::optional<CControlRecord> Decode(std::uint32_t dwRequest, std::uint64_t qwValue);
// A settings or control call that the kernel refused with nError; empty
// for a call interrupted by a signal, which the kernel restarts (or ends
// with EINTR where the handler asks for no restart).
std::optional<CControlRecord> Failed(std::uint32_t dwRequest, int nError);

} // namespace PortControl
