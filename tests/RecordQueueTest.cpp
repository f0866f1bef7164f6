// The hand-over between a monitor's reader and the user-interface thread.
#include "CRecordQueue.h"

#include <gtest/gtest.h>

#include <future>

namespace {

using namespace std::chrono_literals;

constexpr std::size_t COST = 100 + CRecordQueue::RECORD_OVERHEAD, BOUND = 2 * COST;

bool Push(CRecordQueue& queue, std::size_t nSize = 100) {
    bool bWake = false;
    return queue.Push(CCaptureRecord(nSize), bWake);
}

// A reader held back by a full queue, on a thread of its own.
std::future<bool> PushWhenFull(CRecordQueue& queue) {
    while (queue.QueuedBytes() + COST <= BOUND)
        Push(queue);
    auto pushed = std::async(std::launch::async, [&queue] { return Push(queue); });
    EXPECT_EQ(pushed.wait_for(100ms), std::future_status::timeout);
    return pushed;
}

// Whether the reader got past its wait; one that did not is freed, so that
// the test ends.
bool Returned(std::future<bool>& pushed, CRecordQueue& queue) {
    if (pushed.wait_for(10s) == std::future_status::ready)
        return true;
    queue.Stop();
    queue.Clear();
    return false;
}

TEST(RecordQueueTest, AFullQueueHoldsTheReaderUntilRoomOrStopAndTakesNothingAfterTheStop) {
    CRecordQueue queue(BOUND);
    auto blocked = PushWhenFull(queue);
    CCaptureRecord record;
    ASSERT_TRUE(queue.Pop(record));
    EXPECT_TRUE(Returned(blocked, queue));
    EXPECT_TRUE(blocked.get());

    auto stopped = PushWhenFull(queue);
    queue.Stop();
    EXPECT_TRUE(Returned(stopped, queue));
    EXPECT_FALSE(stopped.get());
    EXPECT_FALSE(Push(queue, 1));
    EXPECT_EQ(queue.QueuedBytes(), BOUND);
    CRecordQueue tiny(64);
    auto large = std::async(std::launch::async, [&tiny] { return Push(tiny, 70000); });
    EXPECT_TRUE(Returned(large, tiny) && large.get()) << "a record larger than the bound passes";
}

// The consumer is woken once for the records it finds, and again only once
// it has found the queue empty; what it will still find needs no wake-up.
// P pushes the next record, T takes one, C clears; each push says whether
// it woke the consumer (W) and each take what it got (E: nothing).
TEST(RecordQueueTest, TheConsumerIsWokenOnceUntilItHasFoundTheQueueEmpty) {
    CRecordQueue queue;
    std::string strSeen;
    std::size_t nSize = 0;
    for (const char c : std::string_view("PPTPTTPTTPCP")) {
        bool bWake = false;
        CCaptureRecord record;
        if (c == 'P' && queue.Push(CCaptureRecord(++nSize), bWake))
            strSeen += bWake ? "W" : "-";
        else if (c == 'T')
            strSeen += queue.Pop(record) ? std::to_string(record.Size()) : "E";
        else if (c == 'C')
            queue.Clear();
    }
    // The fourth push comes after the last record was taken, but before the
    // consumer looked again.
    EXPECT_EQ(strSeen, "W-1-23-4EWW");
    EXPECT_EQ(queue.QueuedBytes(), 6 + CRecordQueue::RECORD_OVERHEAD);
}

} // namespace
