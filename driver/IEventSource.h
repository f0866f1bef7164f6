// Where the driver's events come from. A source watches ports and publishes
// what happens on them; the driver turns each event into records for every
// attachment of that port.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

// The clock of CPortEvent::qwTimeNs.
inline std::uint64_t RealtimeNs() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return std::uint64_t(now.tv_sec) * 1'000'000'000u + std::uint64_t(now.tv_nsec);
}

// A port: its device node's filesystem and its device number together. The
// same number on another devpts instance (a container's, or one a user
// mounted) is another terminal.
struct CPortId {
    dev_t fileSystem = 0;
    dev_t device = 0;
    auto operator<=>(const CPortId&) const = default;
};

// CPortEvent::uidProcess of an event that names no process's traffic: every
// attachment of the port gets it.
inline constexpr uid_t EVERY_VIEWER = uid_t(-1);

// One thing that happened on a port. The payload is only valid during the
// call; payloads of any size may be published (the driver splits them).
struct CPortEvent {
    std::int8_t nType = 0;         // a Vantry::CAPTURE_* code
    std::uint32_t dwProcessId = 0; // the process that caused it, 0 when unknown
    std::uint64_t qwTimeNs = 0;    // CLOCK_REALTIME, nanoseconds since the epoch
    std::span<const std::uint8_t> payload;
    // Whose traffic it is: an attachment of another user (root aside) gets a
    // notice naming the process instead.
    uid_t uidProcess = EVERY_VIEWER;
    // The process's command name where the source saw it (it may be gone
    // before the driver can read it), empty otherwise.
    std::string_view strCommand = {};
};

class IEventSink {
public:
    virtual ~IEventSink() = default;
    // May be called from any thread of the source; never blocks.
    virtual void Publish(const CPortId& port, const CPortEvent& event) = 0;
    // The same for one attachment only, for a source that serves each
    // attachment on its own (a replay gives every attachment the whole
    // capture). A handle that is gone is ignored; handles are not reused.
    virtual void PublishTo(std::uint32_t, const CPortEvent&) {}
    // The most that one event's records could take now in any queue of the
    // port: what a source need copy at most.
    virtual std::size_t Room(const CPortId&) const { return SIZE_MAX; }
};

class IEventSource {
public:
    virtual ~IEventSource() = default;
    // Attachment dwHandle of user `viewer` came to the port: watch it (from
    // the first attachment on) and capture what `viewer` may see. `hNode` is
    // the device node the caller was checked against, opened O_PATH: a
    // source keeps a duplicate of it and never resolves the path again.
    // Called for every attachment, so a port whose node was removed and
    // created again is watched afresh. `done` gets 0 or an errno value, once,
    // at once or later on a thread of the source's (the driver does not wait
    // for it); a failure changes nothing. Called on the driver's thread, as
    // is UnwatchPort.
    virtual void WatchPort(const CPortId& port, int hNode, uid_t viewer, std::uint32_t dwHandle,
                           std::function<void(int)> done) = 0;
    // That attachment is gone, whatever its answer was or before it came;
    // after the port's last one, stop watching it.
    virtual void UnwatchPort(std::uint32_t dwHandle) = 0;
};
