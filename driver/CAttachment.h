// One attachment: the records of its port, oldest first, waiting to be
// fetched. The queue is bounded so that a client that stops reading can never
// hold up a source or grow the driver without end: past the byte limit new
// records are dropped and counted, and the count is queued as a driver notice
// as soon as there is room for it again (after a fetch, or with the next
// record). One notice covers one gap, however long: while records are
// being dropped the notice waits for the next record that fits with it, or
// for the client to empty the queue. Every record offered takes the next sequence number, dropped
// ones included, so a gap in the numbers shows where records were lost.
#pragma once

#include "IEventSource.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <span>
#include <vector>

class CAttachment {
public:
    CAttachment(std::uint32_t dwHandle, const CPortId& port, uid_t uid, std::uint64_t qwConnection,
                std::size_t nQueueLimit)
        : m_dwHandle(dwHandle), m_port(port), m_uid(uid), m_qwConnection(qwConnection),
          m_nQueueLimit(nQueueLimit) {}

    std::uint32_t Handle() const { return m_dwHandle; }
    const CPortId& Port() const { return m_port; }
    uid_t Owner() const { return m_uid; }
    std::uint64_t Connection() const { return m_qwConnection; }

    // Queues one record with this payload (at most MAX_RECORD_PAYLOAD bytes).
    void Offer(std::int8_t nType, std::uint32_t dwProcessId, std::uint64_t qwTimeNs,
               std::span<const std::uint8_t> payload);
    // Whether the owner may see this process's traffic: root sees all, any
    // other user only its own processes. For a process it may not see, the
    // first event queues a notice naming it instead; false then.
    bool MaySee(const CPortEvent& event);
    // Bytes that a record may still take before the queue is full.
    std::size_t Room() const { return m_nQueueLimit - m_nQueuedBytes; }

    bool IsEmpty() const { return m_records.empty(); }
    std::size_t FrontSize() const { return m_records.front().size(); }
    // Removes and returns the oldest record; the queue must not be empty.
    std::vector<std::uint8_t> PopFront();

    std::size_t QueuedBytes() const { return m_nQueuedBytes; }
    std::uint32_t DroppedRecords() const { return m_dwDropped; }

    // A client waits for this attachment's next record.
    bool m_bWaitedFor = false;
    // What the sources answered to the watch of its port, once they did.
    std::optional<int> m_watched;

private:
    bool Push(std::int8_t nType, std::uint32_t dwProcessId, std::uint64_t qwTimeNs,
              std::span<const std::uint8_t> payload);
    void QueueNotice(std::uint32_t dwCode, std::uint32_t dwProcessId, std::uint32_t dwValue,
                     std::uint64_t qwTimeNs);

    const std::uint32_t m_dwHandle;
    const CPortId m_port;
    const uid_t m_uid;
    const std::uint64_t m_qwConnection;
    const std::size_t m_nQueueLimit;

    std::deque<std::vector<std::uint8_t>> m_records;
    std::size_t m_nQueuedBytes = 0;
    std::uint32_t m_dwSequence = 0;
    std::uint32_t m_dwDropped = 0;
    std::set<std::uint32_t> m_hidden; // processes already named in a notice
};
