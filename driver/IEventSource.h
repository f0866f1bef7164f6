// Where the driver's events come from. A source watches ports and publishes
// what happens on them; the driver turns each event into records for every
// attachment of that port.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <span>
#include <string>

// The clock of CPortEvent::qwTimeNs.
inline std::uint64_t RealtimeNs() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return std::uint64_t(now.tv_sec) * 1'000'000'000u + std::uint64_t(now.tv_nsec);
}

// One thing that happened on a port. The payload is only valid during the
// call; payloads of any size may be published (the driver splits them).
struct CPortEvent {
    std::int8_t nType = 0;         // a Vantry::CAPTURE_* code
    std::uint32_t dwProcessId = 0; // the process that caused it, 0 when unknown
    std::uint64_t qwTimeNs = 0;    // CLOCK_REALTIME, nanoseconds since the epoch
    std::span<const std::uint8_t> payload;
};

class IEventSink {
public:
    virtual ~IEventSink() = default;
    // May be called from any thread of the source; never blocks.
    virtual void Publish(dev_t port, const CPortEvent& event) = 0;
    // The same for one attachment only, for a source that serves each
    // attachment on its own (a replay gives every attachment the whole
    // capture). A handle that is gone is ignored; handles are not reused.
    virtual void PublishTo(std::uint32_t, const CPortEvent&) {}
};

class IEventSource {
public:
    virtual ~IEventSource() = default;
    // The port got its first attachment: start watching it. 0 or an errno value.
    virtual int WatchPort(dev_t port, const std::string& strDevicePath) = 0;
    // The port's last attachment is gone: stop watching and let go of it.
    virtual void UnwatchPort(dev_t port) = 0;
    // An attachment of a watched port came or went. Called after WatchPort
    // and before UnwatchPort, on the driver's thread; most sources need not care.
    virtual void AttachmentAdded(dev_t, std::uint32_t) {}
    virtual void AttachmentRemoved(std::uint32_t) {}
};
