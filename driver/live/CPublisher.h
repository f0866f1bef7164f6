// What a source hands the driver: records and notices for a port, each
// marked with whose traffic it is. While a traced thread is stopped they
// are kept and handed over once it runs again, so that the sink's work
// overlaps the application's instead of adding to it.
#pragma once

#include "../IEventSource.h"
#include "CSettingsRecords.h"
#include "PortControl.h"
#include "TermiosDecoder.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

class CPublisher {
public:
    // ownerOf: the user whose traffic a process's records are.
    CPublisher(IEventSink& sink, std::function<uid_t(pid_t)> ownerOf);

    // dwHandle: to that attachment of the port alone (never kept), 0: to all.
    void Publish(const CPortId& port, std::int8_t nType, pid_t nPid,
                 std::span<const std::uint8_t> payload = {}, std::uint32_t dwHandle = 0);
    void PublishNotice(const CPortId& port, pid_t nPid, std::uint32_t dwCode, std::uint32_t dwValue,
                       std::uint32_t dwHandle = 0);
    // The same, followed by the process's command name.
    void PublishNamedNotice(const CPortId& port, pid_t nPid, std::uint32_t dwCode,
                            std::uint32_t dwValue);
    // One notice per port among `fds`, however many fds hold it.
    void ReportOnce(pid_t nPid, const std::map<int, CPortId>& fds, std::uint32_t dwCode);
    void PublishSettings(const CPortId& port, pid_t nPid, const CLineSettings& settings,
                         std::uint32_t dwHandle = 0);
    void PublishControl(const CPortId& port, pid_t nPid, const PortControl::CControlRecord& record);

    // From now on records are kept until FlushPublishes.
    void DeferPublishes() { m_bDeferPublish = true; }
    // Hands over what was kept, and publishes at once from then on.
    void FlushPublishes();
    // For the data of the record being made; given back with the kept ones
    // when a large call grew it.
    std::vector<std::uint8_t>& Buffer() { return m_buffer; }

private:
    struct CDeferredEvent {
        CPortId port;
        CPortEvent event;
        std::vector<std::uint8_t> payload;
    };

    // Frees a scratch buffer that a large call grew; true when it did.
    static bool Release(std::vector<std::uint8_t>& buffer);

    IEventSink& m_sink;
    std::function<uid_t(pid_t)> m_ownerOf;
    CSettingsRecords m_settings;
    std::vector<std::uint8_t> m_buffer; // data of the current record
    bool m_bDeferPublish = false;
    std::vector<CDeferredEvent> m_deferred; // the first m_nDeferred are waiting
    std::size_t m_nDeferred = 0;
};
