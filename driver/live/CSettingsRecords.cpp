#include "CSettingsRecords.h"

#include "VantryProtocol.h"

void CSettingsRecords::Make(const CPortId& port, uid_t owner, const CLineSettings& settings,
                            bool bSnapshot, const FPublish& publish) {
    if (settings.dwBaudRate) {
        std::uint8_t baud[4];
        Vantry::PutU32(baud, *settings.dwBaudRate);
        publish(Vantry::CAPTURE_BAUD_RATE, baud);
    }
    const std::uint8_t lineControl[3] = {settings.byStopBits, settings.byParity,
                                         settings.byWordLength};
    publish(Vantry::CAPTURE_LINE_CONTROL, lineControl);
    const CFlow flow{settings.byFlow, settings.byVmin, settings.byVtime};
    if (!bSnapshot) {
        std::lock_guard lock(m_mutex);
        const auto [it, bNew] = m_lastFlow.try_emplace(std::pair(port, owner), flow);
        if (!bNew && it->second == flow)
            return;
        it->second = flow;
    }
    const std::uint8_t payload[3] = {flow.byFlow, flow.byVmin, flow.byVtime};
    publish(Vantry::CAPTURE_FLOW_CONTROL, payload);
}
