// One attachment: the records of its port, oldest first, waiting to be
// fetched. The queue is bounded so that a client that stops reading can never
// hold up a source or grow the driver without end: past the byte limit new
// records are dropped and counted, and the count is queued as a driver notice
// as soon as there is room for it again (after a fetch, or with the next
// record). One notice covers one gap, however long: while records are
// being dropped the notice waits for the next record that fits with it, or
// for the client to empty the queue. Every record offered takes the next sequence number, dropped
// ones included, so a gap in the numbers shows where records were lost.
//
// Besides its own limit a queue draws on its owner's budget, which all the
// owner's attachments share: each queued record is charged there in full,
// with its upkeep, however many attachments share its bytes.
#pragma once

#include "CByteBudget.h"
#include "IEventSource.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <vector>

// One record's bytes with its sequence number left 0: made once per event
// and held by every attachment of the port that queues it; each writes its
// own number into the copy it hands out.
using CSharedRecord = std::shared_ptr<const std::uint8_t[]>;

class CAttachment {
public:
    // What a queued record costs a budget beyond its bytes: its place in the
    // queue and the bookkeeping of its shared buffer, so that a flood of tiny
    // records is bounded by what it really takes.
    static constexpr std::size_t RECORD_UPKEEP = 64;

    CAttachment(std::uint32_t dwHandle, const CPortId& port, uid_t uid, std::uint64_t qwConnection,
                std::size_t nQueueLimit, CByteBudget& budget)
        : m_dwHandle(dwHandle), m_port(port), m_uid(uid), m_qwConnection(qwConnection),
          m_nQueueLimit(nQueueLimit), m_budget(budget) {}
    CAttachment(const CAttachment&) = delete;
    CAttachment& operator=(const CAttachment&) = delete;
    ~CAttachment();

    std::uint32_t Handle() const { return m_dwHandle; }
    const CPortId& Port() const { return m_port; }
    uid_t Owner() const { return m_uid; }
    std::uint64_t Connection() const { return m_qwConnection; }

    // A record with this payload (at most MAX_RECORD_PAYLOAD bytes).
    static CSharedRecord MakeRecord(std::int8_t nType, std::uint32_t dwProcessId,
                                    std::uint64_t qwTimeNs, std::span<const std::uint8_t> payload);
    // Queues the record under this attachment's next sequence number.
    void Offer(const CSharedRecord& pRecord);
    // Whether the owner may see this process's traffic: root sees all, any
    // other user only its own processes. For a process it may not see, the
    // first event queues a notice naming it instead; false then.
    bool MaySee(const CPortEvent& event);
    // Whether the event's process, one it may see, is still to be named to
    // it before the event's records.
    bool NeedsNaming(const CPortEvent& event) const;
    // Queues the naming record when the event needs it, then the event's
    // records; forgets the process as it closes the port.
    void OfferNamed(const CPortEvent& event, const std::vector<CSharedRecord>& records,
                    const CSharedRecord& pName);
    // Bytes that records of the largest size may still take before the queue
    // or its budget is full.
    std::size_t Room() const;

    bool IsEmpty() const { return m_records.empty(); }
    std::size_t FrontSize() const { return SizeOf(m_records.front().pRecord); }
    // Removes and returns the oldest record with its sequence number; the
    // queue must not be empty.
    std::vector<std::uint8_t> PopFront();
    // Removes the oldest records that fit in nCapacity bytes together, each
    // with its u32 size before it, and appends them to `out`; a drop notice
    // queued as the queue empties comes along when it fits.
    void PopBatch(std::size_t nCapacity, std::vector<std::uint8_t>& out);

    std::size_t QueuedBytes() const { return m_nQueuedBytes; }

    // A client waits for this attachment's next record.
    bool m_bWaitedFor = false;
    // What the sources answered to the watch of its port, once they did.
    std::optional<int> m_watched;

private:
    struct CQueued {
        CSharedRecord pRecord;
        std::uint32_t dwSequence;
    };

    static std::size_t SizeOf(const CSharedRecord& pRecord);
    // Writes the oldest record, numbered, to pOut (FrontSize() bytes) and
    // removes it.
    void TakeFront(std::uint8_t* pOut);
    // Whether nRecords records of nBytes together fit the queue and the budget.
    bool Fits(std::size_t nBytes, std::size_t nRecords) const;
    void Push(const CSharedRecord& pRecord);
    void Drop();
    void QueueNotice(std::uint32_t dwCode, std::uint32_t dwProcessId, std::uint32_t dwValue,
                     std::uint64_t qwTimeNs);

    const std::uint32_t m_dwHandle;
    const CPortId m_port;
    const uid_t m_uid;
    const std::uint64_t m_qwConnection;
    const std::size_t m_nQueueLimit;
    CByteBudget& m_budget;

    std::deque<CQueued> m_records;
    std::size_t m_nQueuedBytes = 0;
    std::uint32_t m_dwSequence = 0;
    std::uint32_t m_dwDropped = 0;
    std::set<std::uint32_t> m_hidden; // processes already named in a notice
    std::set<std::uint32_t> m_named;  // processes already named in a process record
};
