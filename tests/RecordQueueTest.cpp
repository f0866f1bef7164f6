// The hand-over between a monitor's reader and the user-interface thread.
#include "CRecordQueue.h"

#include <gtest/gtest.h>

#include <future>

namespace {

using namespace std::chrono_literals;

CCaptureRecord Record(std::size_t nSize) {
    return CCaptureRecord(nSize);
}

// A full queue holds the reader back until the consumer makes room, and a
// stop frees a reader that waits.
TEST(RecordQueueTest, AFullQueueHoldsTheReaderUntilRoomOrStop) {
    CRecordQueue queue(2 * (100 + CRecordQueue::RECORD_OVERHEAD));
    bool bWake = false;
    ASSERT_TRUE(queue.Push(Record(100), bWake));
    EXPECT_TRUE(bWake);
    ASSERT_TRUE(queue.Push(Record(100), bWake));
    EXPECT_FALSE(bWake) << "one wake until the consumer has emptied the queue";

    auto blocked = std::async(std::launch::async, [&] {
        bool b = false;
        return queue.Push(Record(100), b);
    });
    EXPECT_EQ(blocked.wait_for(100ms), std::future_status::timeout);
    CCaptureRecord record;
    ASSERT_TRUE(queue.Pop(record));
    EXPECT_TRUE(blocked.get());

    auto stopped = std::async(std::launch::async, [&] {
        bool b = false;
        return queue.Push(Record(100), b);
    });
    EXPECT_EQ(stopped.wait_for(100ms), std::future_status::timeout);
    queue.Stop();
    EXPECT_FALSE(stopped.get());
    EXPECT_FALSE(queue.Push(Record(1), bWake));
}

TEST(RecordQueueTest, RecordsComeOutInOrderAndARecordLargerThanTheBoundStillPasses) {
    CRecordQueue queue(64);
    bool bWake = false;
    ASSERT_TRUE(queue.Push(Record(70000), bWake));
    CCaptureRecord record;
    ASSERT_TRUE(queue.Pop(record));
    EXPECT_EQ(record.Size(), 70000u);
    EXPECT_FALSE(queue.Pop(record));
    ASSERT_TRUE(queue.Push(Record(1), bWake));
    EXPECT_TRUE(bWake) << "an emptied queue wakes the consumer again";

    queue.Clear();
    EXPECT_EQ(queue.QueuedBytes(), 0u);
    EXPECT_FALSE(queue.Pop(record));
}

} // namespace
