// Every attachment of the driver, by handle and by port, and the sink that
// sources publish into. Sources publish from their own threads and the
// device's thread serves requests, so one lock guards it all; nothing in here
// blocks or calls out while holding it. A parked wait is answered by the
// device's thread: publishing only marks the wake descriptor readable.
#pragma once

#include "CAttachment.h"
#include "CScopedFd.h"
#include "IEventSource.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

class CAttachmentTable : public IEventSink {
public:
    static constexpr std::size_t DEFAULT_QUEUE_LIMIT = 16u << 20;
    // Each attachment may hold a full queue: this bounds what one user can pin.
    static constexpr std::size_t MAX_ATTACHMENTS_PER_USER = 64;

    explicit CAttachmentTable(std::size_t nQueueLimit = DEFAULT_QUEUE_LIMIT);

    // Readable after a record arrived for an attachment that a wait is parked
    // on, or after the sources answered a watch.
    int WakeFd() const { return m_hWake.Get(); }
    void ClearWake();

    // 0 or an errno value (EMFILE when the user holds too many attachments).
    int Add(const CPortId& port, uid_t uid, std::uint64_t qwConnection, std::uint32_t& dwHandle);
    // EBADF unless uid attached the handle (any uid for root's own cleanup
    // when bAnyOwner). On success names the port and the attachment's owner.
    int Remove(std::uint32_t dwHandle, uid_t uid, bool bAnyOwner, CPortId& port, uid_t& owner);
    std::vector<std::uint32_t> HandlesOfConnection(std::uint64_t qwConnection) const;
    std::vector<std::uint32_t> AllHandles() const;

    // The size of the oldest record. When the queue is empty: EAGAIN, and the
    // attachment is marked so that its next record wakes the device.
    int FrontSize(std::uint32_t dwHandle, uid_t uid, std::uint32_t& dwSize);
    // The oldest record, removed; ERANGE (record kept) when it exceeds nCapacity.
    int Pop(std::uint32_t dwHandle, uid_t uid, std::size_t nCapacity,
            std::vector<std::uint8_t>& record);
    bool Exists(std::uint32_t dwHandle) const;
    // The sources' answer to the watch of the attachment's port (any
    // thread): kept for the device's thread, which is woken.
    void Watched(std::uint32_t dwHandle, int nError);
    // That answer, once it came; EBADF when the handle is gone.
    std::optional<int> WatchAnswer(std::uint32_t dwHandle) const;
    std::size_t Room(const CPortId& port) const override;

    void Publish(const CPortId& port, const CPortEvent& event) override;
    void PublishTo(std::uint32_t dwHandle, const CPortEvent& event) override;

private:
    CAttachment* Find(std::uint32_t dwHandle, uid_t uid) const;
    // Splits the payload as records allow; true when a parked wait should wake.
    static bool Deliver(CAttachment& attachment, const CPortEvent& event);
    static bool WakesWaiter(CAttachment& attachment);
    void Wake();

    const std::size_t m_nQueueLimit;
    CScopedFd m_hWake;
    mutable std::mutex m_mutex;
    std::unordered_map<std::uint32_t, std::unique_ptr<CAttachment>> m_attachments;
    std::map<CPortId, std::vector<CAttachment*>> m_ports;
    std::uint32_t m_dwNextHandle = 1;
};
