// Every attachment of the driver, by handle and by port, and the sink that
// sources publish into. Sources publish from their own threads and the
// device's thread serves requests, so one lock guards it all; nothing in here
// blocks or calls out while holding it. A parked wait is answered by the
// device's thread: publishing only marks the wake descriptor readable.
//
// What the queues hold is bounded three ways: each attachment by its queue
// limit, all the attachments of one user by the user's budget, and all the
// users other than root together by one more, so that no other user can make
// root's capture drop records. A port's records are made once and shared by
// its attachments.
#pragma once

#include "CAttachment.h"
#include "CScopedFd.h"
#include "IEventSource.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

class CAttachmentTable : public IEventSink {
public:
    static constexpr std::size_t DEFAULT_QUEUE_LIMIT = 16u << 20;
    static constexpr std::size_t DEFAULT_USER_BUDGET = 64u << 20;
    static constexpr std::size_t DEFAULT_OTHERS_BUDGET = 256u << 20;
    // Bounds the bookkeeping one user can make the driver keep.
    static constexpr std::size_t MAX_ATTACHMENTS_PER_USER = 64;

    explicit CAttachmentTable(std::size_t nQueueLimit = DEFAULT_QUEUE_LIMIT,
                              std::size_t nUserBudget = DEFAULT_USER_BUDGET,
                              std::size_t nOthersBudget = DEFAULT_OTHERS_BUDGET);

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
    // The oldest records that fit in nCapacity bytes, each after its u32
    // size, removed. When the queue is empty: EAGAIN, and the attachment is
    // marked as by FrontSize; ERANGE (record kept) when the oldest alone
    // does not fit.
    int PopBatch(std::uint32_t dwHandle, uid_t uid, std::size_t nCapacity,
                 std::vector<std::uint8_t>& out);
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
    // What Pop and PopBatch share: `take` runs on the attachment once its
    // oldest record, after nFraming bytes, fits in nCapacity; the memory the
    // queues gave up goes back to the system outside the lock. bPark marks
    // an empty queue as FrontSize does.
    int Take(std::uint32_t dwHandle, uid_t uid, std::size_t nFraming, std::size_t nCapacity,
             bool bPark, const std::function<void(CAttachment&)>& take);
    // The event's records: its payload split as records allow.
    static std::vector<CSharedRecord> MakeRecords(const CPortEvent& event);
    // True when a parked wait should wake.
    static bool Deliver(CAttachment& attachment, const CPortEvent& event,
                        const std::vector<CSharedRecord>& records, const CSharedRecord& pName);
    static bool WakesWaiter(CAttachment& attachment);
    // Delivers the event's records to the attachments that forEachTarget
    // hands to its callback, under the lock; wakes a waiter it fed.
    template <typename TForEachTarget>
    void Broadcast(const CPortEvent& event, TForEachTarget forEachTarget);
    void Wake();
    // Under the lock, after queues grew.
    void NoteQueued();
    // Under the lock, after queues shrank: true when they shrank so much
    // since the last time that the freed memory should go back to the system.
    bool ShrankALot();
    static void GiveBackMemory();

    const std::size_t m_nQueueLimit;
    const std::size_t m_nUserBudget;
    CScopedFd m_hWake;
    mutable std::mutex m_mutex;
    CByteBudget m_all{SIZE_MAX};
    CByteBudget m_others;
    std::map<uid_t, CByteBudget> m_users;
    // The most the queues held since memory was last given back.
    std::size_t m_nPeak = 0;
    // After the budgets: attachments give their bytes back as they go.
    std::unordered_map<std::uint32_t, std::unique_ptr<CAttachment>> m_attachments;
    std::map<CPortId, std::vector<CAttachment*>> m_ports;
    std::uint32_t m_dwNextHandle = 1;
};
