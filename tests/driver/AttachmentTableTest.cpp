// The driver's queues in process; their fan-out and wake-ups show in every
// live capture.
#include "CAttachment.h"
#include "CAttachmentTable.h"
#include "VantryProtocol.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace Vantry;

namespace {

struct AttachmentTableTest : ::testing::Test {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(100, 7);
    CPortEvent data{CAPTURE_DATA_READ, 99, 1234, bytes};
    const CPortId port10{1, 10}, port11{1, 11};

    std::uint32_t Add(CAttachmentTable& table, const CPortId& port, uid_t uid = 0) {
        std::uint32_t dwHandle = 0;
        EXPECT_EQ(table.Add(port, uid, 1, dwHandle), 0);
        return dwHandle;
    }
};

constexpr std::size_t RECORD = RECORD_DATA_OFFSET + 100, NOTICE = RECORD_DATA_OFFSET + 8;
constexpr std::size_t COST = RECORD + CAttachment::RECORD_UPKEEP;

struct CQueued {
    std::uint32_t dwSequence;
    std::uint32_t dwDropped; // 0: a data record
    bool operator==(const CQueued&) const = default;
};

CQueued Queued(std::span<const std::uint8_t> record) {
    const bool bNotice = record[RECORD_EVENT_TYPE_OFFSET] == CAPTURE_DRIVER_NOTICE;
    EXPECT_TRUE(!bNotice || GetU32(record.data() + RECORD_DATA_OFFSET) == NOTICE_RECORDS_DROPPED);
    return {GetU32(record.data() + RECORD_SEQUENCE_OFFSET),
            bNotice ? GetU32(record.data() + RECORD_DATA_OFFSET + 4) : 0};
}

TEST_F(AttachmentTableTest, AUsersQueuesShareItsBudgetAndNumberAndOtherUsersOneMoreButRootItsOwn) {
    CAttachmentTable table(1 << 20, 4 * COST, 11 * COST);
    const std::uint32_t dwA = Add(table, port10, 500), dwB = Add(table, port10, 500),
                        dwRoot = Add(table, port10), dwOther = Add(table, port11, 501),
                        dwThird = Add(table, port11, 502);
    for (int i = 0; i < 3; ++i)
        table.Publish(port10, data);
    for (int i = 0; i < 4; ++i)
        table.Publish(port11, data);
    const auto drain = [&](std::uint32_t dwHandle, uid_t uid) {
        std::vector<CQueued> queue;
        for (std::uint32_t dwSize = 0; table.FrontSize(dwHandle, uid, dwSize) == 0;) {
            std::vector<std::uint8_t> record;
            EXPECT_EQ(table.Pop(dwHandle, uid, MAX_RECORD_SIZE, record), 0);
            queue.push_back(Queued(record));
        }
        return queue;
    };
    // User 500's two queues fill its budget between them; user 501 still
    // gets its own, user 502 what is left of all users' but root's.
    EXPECT_EQ(drain(dwA, 500), (std::vector<CQueued>{{1, 0}, {2, 0}, {4, 1}}));
    EXPECT_EQ(drain(dwB, 500), (std::vector<CQueued>{{1, 0}, {2, 0}, {4, 1}}));
    EXPECT_EQ(drain(dwOther, 501), (std::vector<CQueued>{{1, 0}, {2, 0}, {3, 0}, {4, 0}}));
    EXPECT_EQ(drain(dwThird, 502), (std::vector<CQueued>{{1, 0}, {2, 0}, {3, 0}, {5, 1}}));
    EXPECT_EQ(drain(dwRoot, 0), (std::vector<CQueued>{{1, 0}, {2, 0}, {3, 0}}));

    // Each user holds a bounded number of attachments.
    for (std::size_t i = 2; i < CAttachmentTable::MAX_ATTACHMENTS_PER_USER; ++i)
        Add(table, port10, 500);
    std::uint32_t dwHandle = 0;
    EXPECT_EQ(table.Add(port10, 500, 1, dwHandle), EMFILE);
    EXPECT_EQ(table.Add(port10, 501, 1, dwHandle), 0);
}

TEST(AttachmentQueueTest, AGapIsOneNoticeWhenTheNextRecordFitsOrTheQueueEmpties) {
    CByteBudget budget(SIZE_MAX);
    CAttachment attachment(1, CPortId{1, 2}, 0, 0, 3 * RECORD + NOTICE, budget);
    const std::vector<std::uint8_t> payload(100, 'x');
    const auto offer = [&](CAttachment& to, int nCount) {
        for (int i = 0; i < nCount; ++i)
            to.Offer(CAttachment::MakeRecord(CAPTURE_DATA_READ, 1, 0, payload));
    };
    offer(attachment, 10); // 3 fit, 7 dropped
    EXPECT_EQ(Queued(attachment.PopFront()), (CQueued{1, 0}));
    offer(attachment, 1); // room for the notice and the record: the gap ends
    offer(attachment, 2); // a new gap of 2
    // Once drained, the second gap is told at once.
    for (const CQueued expected : {CQueued{2, 0}, {3, 0}, {11, 7}, {12, 0}, {15, 2}})
        EXPECT_EQ(Queued(attachment.PopFront()), expected);
    EXPECT_TRUE(attachment.IsEmpty());
    // A record that exactly fills the queue is kept.
    CAttachment exact(2, CPortId{1, 2}, 0, 0, RECORD, budget);
    exact.Offer(CAttachment::MakeRecord(CAPTURE_DATA_READ, 1, 0, payload));
    EXPECT_EQ(Queued(exact.PopFront()), (CQueued{1, 0}));

    // In batches: the same records in the same order, each after its size,
    // and the notice queued as a batch empties the queue comes with it.
    CAttachment batched(3, CPortId{1, 2}, 0, 0, 3 * RECORD + NOTICE, budget);
    std::vector<std::uint8_t> batch;
    offer(batched, 10);
    batched.PopBatch(2 * (4 + RECORD) - 1, batch); // room for one
    offer(batched, 3);
    batched.PopBatch(SIZE_MAX, batch);
    std::vector<CQueued> queued;
    EXPECT_EQ(ForEachFileRecord(batch, [&](auto record) { queued.push_back(Queued(record)); }),
              batch.size());
    EXPECT_EQ(queued, (std::vector<CQueued>{{1, 0}, {2, 0}, {3, 0}, {11, 7}, {12, 0}, {15, 2}}));
}

} // namespace
