#include "CPublisher.h"

#include "VantryProtocol.h"

#include <malloc.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>

namespace {

// The longest command name the kernel keeps (TASK_COMM_LEN less its NUL).
constexpr std::size_t NAME_SIZE = 15;

} // namespace

CPublisher::CPublisher(IEventSink& sink, std::function<uid_t(pid_t)> ownerOf)
    : m_sink(sink), m_ownerOf(std::move(ownerOf)) {}

void CPublisher::Publish(const CPortId& port, std::int8_t nType, pid_t nPid,
                         std::span<const std::uint8_t> payload, std::uint32_t dwHandle) {
    CPortEvent event;
    event.nType = nType;
    event.dwProcessId = std::uint32_t(nPid > 0 ? nPid : 0);
    event.qwTimeNs = RealtimeNs();
    event.uidProcess = m_ownerOf(nPid);
    // Notices that only name a process left untraced are for every viewer.
    if (nType == Vantry::CAPTURE_DRIVER_NOTICE && payload.size() >= 4) {
        const std::uint32_t dwCode = Vantry::GetU32(payload.data());
        if (dwCode == Vantry::NOTICE_PROCESS_NOT_TRACED ||
            dwCode == Vantry::NOTICE_PROCESS_OF_OTHER_USER)
            event.uidProcess = EVERY_VIEWER;
    }
    if (dwHandle != 0) {
        event.payload = payload;
        m_sink.PublishTo(dwHandle, event);
        return;
    }
    if (!m_bDeferPublish) {
        event.payload = payload;
        m_sink.Publish(port, event);
        return;
    }
    // Kept (buffers reused) until the tracee runs again.
    if (m_nDeferred == m_deferred.size())
        m_deferred.emplace_back();
    auto& deferred = m_deferred[m_nDeferred++];
    deferred.port = port;
    deferred.event = event;
    deferred.payload.assign(payload.begin(), payload.end());
}

void CPublisher::FlushPublishes() {
    m_bDeferPublish = false;
    bool bReleased = false;
    for (std::size_t i = 0; i < m_nDeferred; ++i) {
        auto& deferred = m_deferred[i];
        deferred.event.payload = deferred.payload;
        m_sink.Publish(deferred.port, deferred.event);
        bReleased = Release(deferred.payload) || bReleased;
    }
    m_nDeferred = 0;
    if (Release(m_buffer) || bReleased)
        malloc_trim(0); // and the heap gives back what the records held
}

bool CPublisher::Release(std::vector<std::uint8_t>& buffer) {
    // Buffers are reused from call to call, but one large call must not
    // leave the driver large.
    constexpr std::size_t KEEP = 1u << 20;
    if (buffer.capacity() <= KEEP)
        return false;
    std::vector<std::uint8_t>().swap(buffer);
    return true;
}

void CPublisher::PublishSettings(const CPortId& port, pid_t nPid, const CLineSettings& settings,
                                 std::uint32_t dwHandle) {
    m_settings.Make(
        port, m_ownerOf(nPid), settings, dwHandle != 0,
        [&](std::int8_t nType, auto payload) { Publish(port, nType, nPid, payload, dwHandle); });
}

void CPublisher::PublishControl(const CPortId& port, pid_t nPid,
                                const PortControl::CControlRecord& record) {
    Publish(port, record.nType, nPid, record.Payload());
}

void CPublisher::PublishNotice(const CPortId& port, pid_t nPid, std::uint32_t dwCode,
                               std::uint32_t dwValue, std::uint32_t dwHandle) {
    std::uint8_t payload[Vantry::NOTICE_PAYLOAD_SIZE];
    Vantry::PutU32(payload, dwCode);
    Vantry::PutU32(payload + 4, dwValue);
    Publish(port, Vantry::CAPTURE_DRIVER_NOTICE, nPid, payload, dwHandle);
}

void CPublisher::PublishNamedNotice(const CPortId& port, pid_t nPid, std::uint32_t dwCode,
                                    std::uint32_t dwValue) {
    std::uint8_t payload[Vantry::NOTICE_PAYLOAD_SIZE + NAME_SIZE];
    Vantry::PutU32(payload, dwCode);
    Vantry::PutU32(payload + 4, dwValue);
    std::string strName;
    std::getline(std::ifstream("/proc/" + std::to_string(nPid) + "/comm"), strName);
    strName.resize(std::min(strName.size(), NAME_SIZE));
    std::copy(strName.begin(), strName.end(), payload + Vantry::NOTICE_PAYLOAD_SIZE);
    Publish(port, Vantry::CAPTURE_DRIVER_NOTICE, nPid,
            {payload, Vantry::NOTICE_PAYLOAD_SIZE + strName.size()});
}

void CPublisher::ReportOnce(pid_t nPid, const std::map<int, CPortId>& fds, std::uint32_t dwCode) {
    std::set<CPortId> done;
    for (const auto& [nFd, port] : fds) {
        if (!done.insert(port).second)
            continue;
        if (dwCode == Vantry::NOTICE_USED_UNTRACED)
            PublishNamedNotice(port, nPid, dwCode, 0);
        else
            PublishNotice(port, nPid, dwCode, std::uint32_t(nPid));
    }
}
