// The records a settings call makes, for both sources: the speed (when the
// call named one), the line control, and the flow control with VMIN and
// VTIME when they are not what the port's last records said. A snapshot
// for one attachment always says them: that attachment has heard nothing.
#pragma once

#include "../IEventSource.h"
#include "TermiosDecoder.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>

class CSettingsRecords {
public:
    using FPublish = std::function<void(std::int8_t nType, std::span<const std::uint8_t>)>;

    // bSnapshot: for one attachment, which leaves the port's last flow as it was.
    void Make(const CPortId& port, const CLineSettings& settings, bool bSnapshot,
              const FPublish& publish);

private:
    struct CFlow {
        std::uint8_t byFlow, byVmin, byVtime;
        bool operator==(const CFlow&) const = default;
    };

    std::mutex m_mutex; // the eBPF source publishes from two threads
    std::map<CPortId, CFlow> m_lastFlow;
};
