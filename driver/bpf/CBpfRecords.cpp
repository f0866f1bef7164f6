#include "CBpfRecords.h"

#include "PortControl.h"
#include "VantryProtocol.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cstring>

namespace {

std::uint64_t MonotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1'000'000'000u + std::uint64_t(now.tv_nsec);
}

// A piece the kernel could not copy from the caller's buffer.
constexpr std::uint8_t PIECE_UNREADABLE = 2;

// What a port's queues can take of one call: the records of the split
// each add their head, and a notice of what was cut and a close or two
// should still fit (as the ptrace source reckons it).
std::size_t Fits(std::size_t nRoom) {
    constexpr std::size_t RESERVE = 256;
    nRoom -= std::min(nRoom, RESERVE);
    return nRoom / Vantry::MAX_RECORD_SIZE * Vantry::MAX_RECORD_PAYLOAD +
           (nRoom % Vantry::MAX_RECORD_SIZE > Vantry::RECORD_DATA_OFFSET
                ? nRoom % Vantry::MAX_RECORD_SIZE - Vantry::RECORD_DATA_OFFSET
                : 0);
}

} // namespace

void CBpfRecords::SyncClock() {
    m_nClockOffset = std::int64_t(RealtimeNs()) - std::int64_t(MonotonicNs());
}

CPortId CBpfRecords::PortOf(const bpf_record& head) const {
    return {makedev(head.port.s_dev >> 20, head.port.s_dev & 0xFFFFF),
            makedev(head.port.rdev >> 20, head.port.rdev & 0xFFFFF)};
}

void CBpfRecords::OnRecord(std::span<const std::uint8_t> record) {
    bpf_record head;
    if (record.size() < sizeof head)
        return;
    std::memcpy(&head, record.data(), sizeof head);
    const auto data =
        record.subspan(sizeof head, std::min<std::size_t>(head.len, record.size() - sizeof head));
    const std::uint64_t qwTimeNs = std::uint64_t(std::int64_t(head.ktime) + m_nClockOffset);
    const auto [it, bFirst] = m_nextSeq.try_emplace(head.cpu, head.seq);
    if (it->second != head.seq)
        Gap(head.cpu, qwTimeNs);
    it->second = head.seq + 1;
    const CPortId port = PortOf(head);
    switch (head.kind) {
    case BPF_REC_OPEN: {
        // The opener may be gone before the driver could read its name.
        const std::string_view command(reinterpret_cast<const char*>(data.data()),
                                       std::min<std::size_t>(data.size(), BPF_COMM_SIZE));
        Publish(port, Vantry::CAPTURE_PORT_OPENED, head.tgid, head.uid, qwTimeNs, {}, 0,
                command.substr(0, command.find('\0')));
        break;
    }
    case BPF_REC_CONTROL:
        OnControl(head, data, qwTimeNs);
        break;
    case BPF_REC_CLOSE:
        Publish(port, Vantry::CAPTURE_PORT_CLOSED, head.tgid, head.uid, qwTimeNs);
        break;
    case BPF_REC_READ:
    case BPF_REC_WRITE:
        OnPiece(head, data);
        break;
    case BPF_REC_SETTINGS:
        OnSettings(head, data);
        break;
    case BPF_REC_UNDECODED:
        Notice(port, head.tgid, head.uid, qwTimeNs, Vantry::NOTICE_CALL_NOT_DECODED, head.arg);
        break;
    default:
        break;
    }
}

void CBpfRecords::OnPiece(const bpf_record& head, std::span<const std::uint8_t> data) {
    auto it = m_calls.find(head.tid);
    if (it != m_calls.end() && (head.piece == 0 || it->second.qwCall != head.call)) {
        // The rest of that call was lost (and said so): publish what came.
        Finish(it->second);
        m_calls.erase(it);
        it = m_calls.end();
    }
    if (it == m_calls.end()) {
        CPendingCall call;
        call.port = PortOf(head);
        call.nType =
            head.kind == BPF_REC_READ ? Vantry::CAPTURE_DATA_READ : Vantry::CAPTURE_DATA_WRITTEN;
        call.dwCpu = head.cpu;
        call.dwTgid = head.tgid;
        call.owner = head.uid;
        call.qwTimeNs = std::uint64_t(std::int64_t(head.ktime) + m_nClockOffset);
        call.qwCall = head.call;
        it = m_calls.emplace(head.tid, std::move(call)).first;
    }
    CPendingCall& call = it->second;
    if (head.flags & PIECE_UNREADABLE) {
        call.qwUnreadable += data.size();
    } else {
        // Never hold more than the queues can take: a write of a gigabyte
        // must not make the driver that big.
        const std::size_t nFits = Fits(m_sink.Room(call.port));
        const std::size_t nTaken =
            std::min(data.size(), nFits - std::min(nFits, call.bytes.size()));
        call.bytes.insert(call.bytes.end(), data.begin(), data.begin() + nTaken);
        call.qwCut += data.size() - nTaken;
    }
    if (head.flags & BPF_PIECE_LAST) {
        Finish(call);
        m_calls.erase(it);
    }
}

void CBpfRecords::Finish(CPendingCall& call) {
    if (!call.bytes.empty())
        Publish(call.port, call.nType, call.dwTgid, call.owner, call.qwTimeNs, call.bytes);
    if (call.qwUnreadable > 0)
        Notice(call.port, call.dwTgid, call.owner, call.qwTimeNs, Vantry::NOTICE_BYTES_UNREADABLE,
               std::uint32_t(std::min<std::uint64_t>(call.qwUnreadable, UINT32_MAX)));
    if (call.qwCut > 0)
        Notice(call.port, call.dwTgid, call.owner, call.qwTimeNs, Vantry::NOTICE_BYTES_NOT_CAPTURED,
               std::uint32_t(std::min<std::uint64_t>(call.qwCut, UINT32_MAX)));
}

void CBpfRecords::OnSettings(const bpf_record& head, std::span<const std::uint8_t> data) {
    const auto eKind = TermiosDecoder::ClassifyIoctl(head.arg);
    if (eKind == TermiosDecoder::ESetCommand::None || data.size() < TermiosDecoder::SizeOf(eKind))
        return;
    CLineSettings settings = TermiosDecoder::Decode(data, eKind);
    if (!settings.dwBaudRate && data.size() >= BPF_SETTINGS_SIZE + BPF_TERMIOS2_SIZE) {
        // BOTHER through the old request keeps the speed the port had.
        settings.dwBaudRate = TermiosDecoder::Decode(data.subspan(BPF_SETTINGS_SIZE),
                                                     TermiosDecoder::ESetCommand::Termios2)
                                  .dwBaudRate;
    }
    PublishSettings(PortOf(head), pid_t(head.tgid), head.uid, settings,
                    std::uint64_t(std::int64_t(head.ktime) + m_nClockOffset));
}

void CBpfRecords::PublishSettings(const CPortId& port, pid_t nPid, uid_t owner,
                                  const CLineSettings& settings, std::uint64_t qwTimeNs,
                                  std::uint32_t dwHandle) {
    m_settings.Make(port, owner, settings, dwHandle != 0, [&](std::int8_t nType, auto payload) {
        Publish(port, nType, std::uint32_t(nPid), owner, qwTimeNs, payload, dwHandle);
    });
}

void CBpfRecords::OnControl(const bpf_record& head, std::span<const std::uint8_t> data,
                            std::uint64_t qwTimeNs) {
    bpf_control control;
    if (data.size() < sizeof control)
        return;
    std::memcpy(&control, data.data(), sizeof control);
    const auto record = control.result < 0 ? PortControl::Failed(head.arg, int(-control.result))
                                           : PortControl::Decode(head.arg, control.value);
    if (record)
        Publish(PortOf(head), record->nType, head.tgid, head.uid, qwTimeNs, record->Payload());
}

void CBpfRecords::OnLost() {
    // The numbering shows where; this says it even when no later record
    // of that CPU comes to show the gap.
    for (const CPortId& port : m_ports)
        Notice(port, 0, EVERY_VIEWER, RealtimeNs(), Vantry::NOTICE_EVENTS_LOST, 0);
}

void CBpfRecords::Gap(std::uint32_t dwCpu, std::uint64_t qwTimeNs) {
    for (const CPortId& port : m_ports)
        Notice(port, 0, EVERY_VIEWER, qwTimeNs, Vantry::NOTICE_EVENTS_LOST, 0);
    // A call of that CPU may have lost pieces: what came of it goes out now.
    for (auto it = m_calls.begin(); it != m_calls.end();) {
        if (it->second.dwCpu != dwCpu) {
            ++it;
            continue;
        }
        Finish(it->second);
        it = m_calls.erase(it);
    }
}

void CBpfRecords::Publish(const CPortId& port, std::int8_t nType, std::uint32_t dwPid, uid_t owner,
                          std::uint64_t qwTimeNs, std::span<const std::uint8_t> payload,
                          std::uint32_t dwHandle, std::string_view strCommand) {
    CPortEvent event;
    event.strCommand = strCommand;
    event.nType = nType;
    event.dwProcessId = dwPid;
    event.qwTimeNs = qwTimeNs;
    event.payload = payload;
    event.uidProcess = owner;
    if (dwHandle != 0)
        m_sink.PublishTo(dwHandle, event);
    else
        m_sink.Publish(port, event);
}

void CBpfRecords::Notice(const CPortId& port, std::uint32_t dwPid, uid_t owner,
                         std::uint64_t qwTimeNs, std::uint32_t dwCode, std::uint32_t dwValue) {
    std::uint8_t payload[Vantry::NOTICE_PAYLOAD_SIZE];
    Vantry::PutU32(payload, dwCode);
    Vantry::PutU32(payload + 4, dwValue);
    Publish(port, Vantry::CAPTURE_DRIVER_NOTICE, dwPid, owner, qwTimeNs, payload);
}
