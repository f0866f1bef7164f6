#include "CAttachmentTable.h"

#include "ProcessRecord.h"
#include "VantryProtocol.h"

#include <malloc.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

using namespace Vantry;

namespace {

// Queues that shrink by less than this keep their memory for the next burst.
constexpr std::size_t GIVE_BACK_STEP = 4u << 20;

} // namespace

CAttachmentTable::CAttachmentTable(std::size_t nQueueLimit, std::size_t nUserBudget,
                                   std::size_t nOthersBudget)
    : m_nQueueLimit(nQueueLimit), m_nUserBudget(nUserBudget),
      m_hWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_others(nOthersBudget, &m_all) {
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
    // Root's budget is its own: other users can never fill it.
    auto& budget =
        m_users.try_emplace(uid, m_nUserBudget, uid == 0 ? &m_all : &m_others).first->second;
    auto pAttachment =
        std::make_unique<CAttachment>(dwHandle, port, uid, qwConnection, m_nQueueLimit, budget);
    m_ports[port].push_back(pAttachment.get());
    m_attachments.emplace(dwHandle, std::move(pAttachment));
    return 0;
}

int CAttachmentTable::Remove(std::uint32_t dwHandle, uid_t uid, bool bAnyOwner, CPortId& port,
                             uid_t& owner) {
    bool bGiveBack = false;
    {
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
        if (std::none_of(m_attachments.begin(), m_attachments.end(),
                         [&](const auto& entry) { return entry.second->Owner() == owner; }))
            m_users.erase(owner);
        bGiveBack = ShrankALot();
    }
    if (bGiveBack)
        GiveBackMemory();
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

int CAttachmentTable::Take(std::uint32_t dwHandle, uid_t uid, std::size_t nFraming,
                           std::size_t nCapacity, bool bPark,
                           const std::function<void(CAttachment&)>& take) {
    bool bGiveBack = false;
    {
        std::lock_guard lock(m_mutex);
        CAttachment* pAttachment = Find(dwHandle, uid);
        if (pAttachment == nullptr)
            return EBADF;
        if (pAttachment->IsEmpty()) {
            pAttachment->m_bWaitedFor = pAttachment->m_bWaitedFor || bPark;
            return EAGAIN;
        }
        if (nFraming + pAttachment->FrontSize() > nCapacity)
            return ERANGE;
        take(*pAttachment);
        bGiveBack = ShrankALot();
    }
    if (bGiveBack)
        GiveBackMemory();
    return 0;
}

int CAttachmentTable::Pop(std::uint32_t dwHandle, uid_t uid, std::size_t nCapacity,
                          std::vector<std::uint8_t>& record) {
    return Take(dwHandle, uid, 0, nCapacity, false,
                [&](CAttachment& attachment) { record = attachment.PopFront(); });
}

int CAttachmentTable::PopBatch(std::uint32_t dwHandle, uid_t uid, std::size_t nCapacity,
                               std::vector<std::uint8_t>& out) {
    return Take(dwHandle, uid, 4, nCapacity, true,
                [&](CAttachment& attachment) { attachment.PopBatch(nCapacity, out); });
}

void CAttachmentTable::NoteQueued() {
    m_nPeak = std::max(m_nPeak, m_all.Used());
}

bool CAttachmentTable::ShrankALot() {
    const std::size_t nNow = m_all.Used();
    if (nNow + GIVE_BACK_STEP > m_nPeak || nNow > m_nPeak / 2)
        return false;
    m_nPeak = nNow;
    return true;
}

void CAttachmentTable::GiveBackMemory() {
    // Records are freed in small pieces all over the heaps of the threads
    // that made them; without this the pages stay with the driver for good.
    malloc_trim(0);
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

std::vector<CSharedRecord> CAttachmentTable::MakeRecords(const CPortEvent& event) {
    std::vector<CSharedRecord> records;
    auto payload = event.payload;
    const bool bSplit = event.nType == CAPTURE_DATA_READ || event.nType == CAPTURE_DATA_WRITTEN;
    do {
        const auto chunk = payload.first(std::min(payload.size(), MAX_RECORD_PAYLOAD));
        records.push_back(
            CAttachment::MakeRecord(event.nType, event.dwProcessId, event.qwTimeNs, chunk));
        payload = payload.subspan(chunk.size());
    } while (bSplit && !payload.empty());
    return records;
}

bool CAttachmentTable::Deliver(CAttachment& attachment, const CPortEvent& event,
                               const std::vector<CSharedRecord>& records,
                               const CSharedRecord& pName) {
    if (attachment.MaySee(event))
        attachment.OfferNamed(event, records, pName);
    return WakesWaiter(attachment);
}

bool CAttachmentTable::WakesWaiter(CAttachment& attachment) {
    if (!attachment.m_bWaitedFor || attachment.IsEmpty())
        return false;
    attachment.m_bWaitedFor = false;
    return true;
}

template <typename TForEachTarget>
void CAttachmentTable::Broadcast(const CPortEvent& event, TForEachTarget forEachTarget) {
    bool bWake = false;
    // Made before the lock is taken, and freed after, when no attachment took them.
    const auto records = MakeRecords(event);
    CSharedRecord pName;
    std::unique_lock lock(m_mutex);
    if (ProcessRecord::IsNameable(event)) {
        bool bNaming = false;
        forEachTarget(
            [&](CAttachment& attachment) { bNaming = bNaming || attachment.NeedsNaming(event); });
        if (bNaming) {
            // /proc is read without the lock; an attachment that came
            // meanwhile gets its naming record with this process's next event.
            lock.unlock();
            pName = ProcessRecord::Make(event);
            lock.lock();
        }
    }
    forEachTarget([&](CAttachment& attachment) {
        bWake = Deliver(attachment, event, records, pName) || bWake;
    });
    NoteQueued();
    lock.unlock();
    if (bWake)
        Wake();
}

void CAttachmentTable::Publish(const CPortId& port, const CPortEvent& event) {
    Broadcast(event, [&](const auto& deliver) {
        if (const auto it = m_ports.find(port); it != m_ports.end()) {
            for (CAttachment* pAttachment : it->second)
                deliver(*pAttachment);
        }
    });
}

void CAttachmentTable::PublishTo(std::uint32_t dwHandle, const CPortEvent& event) {
    Broadcast(event, [&](const auto& deliver) {
        if (const auto it = m_attachments.find(dwHandle); it != m_attachments.end())
            deliver(*it->second);
    });
}
