// Turns what the programs in the kernel ship into the driver's events: a
// call's data pieces joined again into one payload (so the records are
// those the ptrace source makes), settings decoded by the same decoder,
// and every gap in a CPU's numbering said as lost events.
#pragma once

#include "../IEventSource.h"
#include "BpfRecord.h"
#include "CSettingsRecords.h"
#include "TermiosDecoder.h"

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

class CBpfRecords {
public:
    explicit CBpfRecords(IEventSink& sink) : m_sink(sink) {}

    void SetPorts(std::set<CPortId> ports) { m_ports = std::move(ports); }
    // Called before a batch: the offset from the records' clock to ours.
    void SyncClock();
    void OnRecord(std::span<const std::uint8_t> record);
    // The ring buffer's own count of records it refused went up.
    void OnLost();

    // Publishes a process's current settings the way a settings call is,
    // to one attachment only when dwHandle is not 0.
    void PublishSettings(const CPortId& port, pid_t nPid, uid_t owner,
                         const CLineSettings& settings, std::uint64_t qwTimeNs,
                         std::uint32_t dwHandle = 0);

private:
    struct CPendingCall {
        CPortId port;
        std::int8_t nType = 0;
        std::uint32_t dwCpu = 0;
        std::uint32_t dwTgid = 0;
        uid_t owner = 0;
        std::uint64_t qwTimeNs = 0;
        std::uint64_t qwCall = 0;
        std::uint64_t qwUnreadable = 0;
        std::uint64_t qwCut = 0;
        std::vector<std::uint8_t> bytes;
    };

    void OnPiece(const bpf_record& head, std::span<const std::uint8_t> data);
    void Finish(CPendingCall& call);
    void OnSettings(const bpf_record& head, std::span<const std::uint8_t> data);
    void OnControl(const bpf_record& head, std::span<const std::uint8_t> data,
                   std::uint64_t qwTimeNs);
    void Publish(const CPortId& port, std::int8_t nType, std::uint32_t dwPid, uid_t owner,
                 std::uint64_t qwTimeNs, std::span<const std::uint8_t> payload = {},
                 std::uint32_t dwHandle = 0, std::string_view strCommand = {});
    void Notice(const CPortId& port, std::uint32_t dwPid, uid_t owner, std::uint64_t qwTimeNs,
                std::uint32_t dwCode, std::uint32_t dwValue);
    void Gap(std::uint32_t dwCpu, std::uint64_t qwTimeNs);
    CPortId PortOf(const bpf_record& head) const;

    IEventSink& m_sink;
    CSettingsRecords m_settings;
    std::set<CPortId> m_ports;
    std::int64_t m_nClockOffset = 0;
    std::unordered_map<std::uint32_t, std::uint32_t> m_nextSeq; // by CPU
    std::unordered_map<std::uint32_t, CPendingCall> m_calls;    // by thread
};
