#include "CAttachmentTable.h"

#include "VantryProtocol.h"

#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

using namespace Vantry;

CAttachmentTable::CAttachmentTable(std::size_t nQueueLimit)
    : m_nQueueLimit(nQueueLimit), m_hWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_hWake.IsValid())
        throw std::runtime_error("eventfd failed");
}

void CAttachmentTable::ClearWake() {
    eventfd_t value;
    eventfd_read(m_hWake.Get(), &value);
}

void CAttachmentTable::Wake() {
    eventfd_write(m_hWake.Get(), 1);
}

int CAttachmentTable::Add(const CPortId& port, uid_t uid, std::uint64_t qwConnection,
                          std::uint32_t& dwHandle) {
    std::lock_guard lock(m_mutex);
    const auto nHeld =
        std::count_if(m_attachments.begin(), m_attachments.end(),
                      [&](const auto& entry) { return entry.second->Owner() == uid; });
    if (std::size_t(nHeld) >= MAX_ATTACHMENTS_PER_USER)
        return EMFILE;
    // Handles count up and skip 0 and those in use: a handle is not handed
    // out again while the counter has not come round, so a late publish for
    // a detached handle cannot reach a new attachment.
    do
        dwHandle = m_dwNextHandle++;
    while (dwHandle == 0 || m_attachments.contains(dwHandle));
    auto pAttachment =
        std::make_unique<CAttachment>(dwHandle, port, uid, qwConnection, m_nQueueLimit);
    m_ports[port].push_back(pAttachment.get());
    m_attachments.emplace(dwHandle, std::move(pAttachment));
    return 0;
}

int CAttachmentTable::Remove(std::uint32_t dwHandle, uid_t uid, bool bAnyOwner, CPortId& port,
                             uid_t& owner) {
    std::lock_guard lock(m_mutex);
    const auto it = m_attachments.find(dwHandle);
    if (it == m_attachments.end() || (!bAnyOwner && it->second->Owner() != uid))
        return EBADF;
    port = it->second->Port();
    owner = it->second->Owner();
    auto& onPort = m_ports[port];
    std::erase(onPort, it->second.get());
    if (onPort.empty())
        m_ports.erase(port);
    m_attachments.erase(it);
    return 0;
}

std::vector<std::uint32_t> CAttachmentTable::HandlesOfConnection(std::uint64_t qwConnection) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::uint32_t> handles;
    for (const auto& [dwHandle, pAttachment] : m_attachments)
        if (pAttachment->Connection() == qwConnection)
            handles.push_back(dwHandle);
    return handles;
}

std::vector<std::uint32_t> CAttachmentTable::AllHandles() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::uint32_t> handles;
    for (const auto& entry : m_attachments)
        handles.push_back(entry.first);
    return handles;
}

CAttachment* CAttachmentTable::Find(std::uint32_t dwHandle, uid_t uid) const {
    const auto it = m_attachments.find(dwHandle);
    if (it == m_attachments.end() || it->second->Owner() != uid)
        return nullptr;
    return it->second.get();
}

bool CAttachmentTable::Exists(std::uint32_t dwHandle) const {
    std::lock_guard lock(m_mutex);
    return m_attachments.contains(dwHandle);
}

void CAttachmentTable::Watched(std::uint32_t dwHandle, int nError) {
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_attachments.find(dwHandle);
        if (it == m_attachments.end())
            return; // detached meanwhile
        it->second->m_watched = nError;
    }
    Wake();
}

std::optional<int> CAttachmentTable::WatchAnswer(std::uint32_t dwHandle) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_attachments.find(dwHandle);
    // Detached meanwhile (by another connection of its user): said so.
    return it != m_attachments.end() ? it->second->m_watched : std::optional<int>(EBADF);
}

int CAttachmentTable::FrontSize(std::uint32_t dwHandle, uid_t uid, std::uint32_t& dwSize) {
    std::lock_guard lock(m_mutex);
    CAttachment* pAttachment = Find(dwHandle, uid);
    if (pAttachment == nullptr)
        return EBADF;
    if (pAttachment->IsEmpty()) {
        pAttachment->m_bWaitedFor = true;
        return EAGAIN;
    }
    dwSize = std::uint32_t(pAttachment->FrontSize());
    return 0;
}

int CAttachmentTable::Pop(std::uint32_t dwHandle, uid_t uid, std::size_t nCapacity,
                          std::vector<std::uint8_t>& record) {
    std::lock_guard lock(m_mutex);
    CAttachment* pAttachment = Find(dwHandle, uid);
    if (pAttachment == nullptr)
        return EBADF;
    if (pAttachment->IsEmpty())
        return EAGAIN;
    if (pAttachment->FrontSize() > nCapacity)
        return ERANGE;
    record = pAttachment->PopFront();
    return 0;
}

std::size_t CAttachmentTable::Room(const CPortId& port) const {
    std::lock_guard lock(m_mutex);
    std::size_t nRoom = 0;
    if (const auto it = m_ports.find(port); it != m_ports.end()) {
        for (const CAttachment* pAttachment : it->second)
            nRoom = std::max(nRoom, pAttachment->Room());
    }
    return nRoom;
}

bool CAttachmentTable::Deliver(CAttachment& attachment, const CPortEvent& event) {
    if (!attachment.MaySee(event))
        return WakesWaiter(attachment);
    auto payload = event.payload;
    if (event.nType == CAPTURE_DATA_READ || event.nType == CAPTURE_DATA_WRITTEN) {
        do {
            const auto chunk = payload.first(std::min(payload.size(), MAX_RECORD_PAYLOAD));
            attachment.Offer(event.nType, event.dwProcessId, event.qwTimeNs, chunk);
            payload = payload.subspan(chunk.size());
        } while (!payload.empty());
    } else {
        attachment.Offer(event.nType, event.dwProcessId, event.qwTimeNs,
                         payload.first(std::min(payload.size(), MAX_RECORD_PAYLOAD)));
    }
    return WakesWaiter(attachment);
}

bool CAttachmentTable::WakesWaiter(CAttachment& attachment) {
    if (!attachment.m_bWaitedFor || attachment.IsEmpty())
        return false;
    attachment.m_bWaitedFor = false;
    return true;
}

void CAttachmentTable::Publish(const CPortId& port, const CPortEvent& event) {
    bool bWake = false;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_ports.find(port);
        if (it == m_ports.end())
            return;
        for (CAttachment* pAttachment : it->second)
            bWake = Deliver(*pAttachment, event) || bWake;
    }
    if (bWake)
        Wake();
}

void CAttachmentTable::PublishTo(std::uint32_t dwHandle, const CPortEvent& event) {
    bool bWake = false;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_attachments.find(dwHandle);
        if (it == m_attachments.end())
            return;
        bWake = Deliver(*it->second, event);
    }
    if (bWake)
        Wake();
}
