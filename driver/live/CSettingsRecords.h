// The records a settings call makes, for both sources: the speed (when the
// call named one), the line control, and the flow control with VMIN and
// VTIME when they are not what the port's last records of the same user's
// processes said (an attachment of another user sees none of those). A
// snapshot for one attachment always says them: it has heard nothing.
#pragma once

#include "../IEventSource.h"
#include "TermiosDecoder.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <utility>

class CSettingsRecords {
public:
    using FPublish = std::function<void(std::int8_t nType, std::span<const std::uint8_t>)>;

    // bSnapshot: for one attachment, which leaves the port's last flow as it was.
    void Make(const CPortId& port, uid_t owner, const CLineSettings& settings, bool bSnapshot,
              const FPublish& publish);

private:
    struct CFlow {
        std::uint8_t byFlow, byVmin, byVtime;
        bool operator==(const CFlow&) const = default;
    };

    std::mutex m_mutex; // the eBPF source publishes from two threads
    std::map<std::pair<CPortId, uid_t>, CFlow> m_lastFlow;
};
