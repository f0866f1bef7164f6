// One attachment: the records of its port, oldest first, waiting to be
// fetched. The queue is bounded so that a client that stops reading can never
// hold up a source or grow the driver without end: past the byte limit new
// records are dropped and counted, and the count is queued as a driver notice
// as soon as there is room for it again (after a fetch, or with the next
// record). Every record offered takes the next sequence number, dropped ones
// included, so a gap in the numbers shows where records were lost.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

class CAttachment {
public:
    CAttachment(std::uint32_t dwHandle, dev_t port, uid_t uid, std::uint64_t qwConnection,
                std::size_t nQueueLimit)
        : m_dwHandle(dwHandle), m_port(port), m_uid(uid), m_qwConnection(qwConnection),
          m_nQueueLimit(nQueueLimit) {}

    std::uint32_t Handle() const { return m_dwHandle; }
    dev_t Port() const { return m_port; }
    uid_t Owner() const { return m_uid; }
    std::uint64_t Connection() const { return m_qwConnection; }

    // Queues one record with this payload (at most MAX_RECORD_PAYLOAD bytes).
    void Offer(std::int8_t nType, std::uint32_t dwProcessId, std::uint64_t qwTimeNs,
               std::span<const std::uint8_t> payload);

    bool IsEmpty() const { return m_records.empty(); }
    std::size_t FrontSize() const { return m_records.front().size(); }
    // Removes and returns the oldest record; the queue must not be empty.
    std::vector<std::uint8_t> PopFront();

    std::size_t QueuedBytes() const { return m_nQueuedBytes; }
    std::uint32_t DroppedRecords() const { return m_dwDropped; }

    // A client waits for this attachment's next record.
    bool m_bWaitedFor = false;

private:
    bool Push(std::int8_t nType, std::uint32_t dwProcessId, std::uint64_t qwTimeNs,
              std::span<const std::uint8_t> payload);
    void TryQueueDropNotice(std::uint64_t qwTimeNs);

    const std::uint32_t m_dwHandle;
    const dev_t m_port;
    const uid_t m_uid;
    const std::uint64_t m_qwConnection;
    const std::size_t m_nQueueLimit;

    std::deque<std::vector<std::uint8_t>> m_records;
    std::size_t m_nQueuedBytes = 0;
    std::uint32_t m_dwSequence = 0;
    std::uint32_t m_dwDropped = 0;
};
