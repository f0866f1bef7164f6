// The driver's queues in process: fan-out to every attachment of a port, the
// wake-up of a parked wait, and one attachment's queue when it overflows: a
// gap of dropped records, however long, is one notice with its count, in the
// gap's place. What a live source publishes goes this way.
#include "CAttachment.h"
#include "CAttachmentTable.h"
#include "Records.h"
#include "VantryProtocol.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <cerrno>

using namespace Vantry;

namespace {

bool IsReadable(int hFd) {
    pollfd fd{hFd, POLLIN, 0};
    return poll(&fd, 1, 0) == 1;
}

struct AttachmentTableTest : ::testing::Test {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(100, 7);
    CPortEvent data{CAPTURE_DATA_READ, 99, 1234, bytes};

    const CPortId port10{1, 10}, port11{1, 11};

    std::uint32_t Add(CAttachmentTable& table, const CPortId& port, uid_t uid = 0) {
        std::uint32_t dwHandle = 0;
        EXPECT_EQ(table.Add(port, uid, 1, dwHandle), 0);
        return dwHandle;
    }
    std::vector<std::uint8_t> Pop(CAttachmentTable& table, std::uint32_t dwHandle) {
        std::vector<std::uint8_t> record;
        EXPECT_EQ(table.Pop(dwHandle, 0, MAX_RECORD_SIZE, record), 0);
        return record;
    }
};

TEST_F(AttachmentTableTest, APortsEventsReachEachOfItsAttachmentsAndWakeParkedWaits) {
    CAttachmentTable table;
    const std::uint32_t dwFirst = Add(table, port10), dwSecond = Add(table, port10),
                        dwOther = Add(table, port11);
    std::uint32_t dwSize = 0;
    EXPECT_EQ(table.FrontSize(dwFirst, 0, dwSize), EAGAIN); // parks
    EXPECT_FALSE(IsReadable(table.WakeFd()));
    table.Publish(port10, data);
    EXPECT_TRUE(IsReadable(table.WakeFd()));
    table.ClearWake();
    table.Publish(port10, data); // nobody parked: no wake-up
    EXPECT_FALSE(IsReadable(table.WakeFd()));

    for (const std::uint32_t dwHandle : {dwFirst, dwSecond})
        for (std::uint32_t dwSequence : {1u, 2u})
            EXPECT_EQ(Records::SequenceOf(Pop(table, dwHandle)), dwSequence);
    EXPECT_EQ(table.FrontSize(dwOther, 0, dwSize), EAGAIN);

    CPortId port;
    uid_t owner = 1;
    EXPECT_EQ(table.Remove(dwFirst, 0, false, port, owner), 0);
    EXPECT_EQ(port, port10);
    EXPECT_EQ(owner, 0u);
    table.Publish(port10, data);
    EXPECT_EQ(Pop(table, dwSecond).size(), RECORD_DATA_OFFSET + bytes.size());
}

TEST_F(AttachmentTableTest, EachUserHoldsABoundedNumberOfAttachments) {
    CAttachmentTable table;
    std::uint32_t dwHandle = 0;
    for (std::size_t i = 0; i < CAttachmentTable::MAX_ATTACHMENTS_PER_USER; ++i)
        ASSERT_EQ(table.Add(port10, 500, 1, dwHandle), 0);
    EXPECT_EQ(table.Add(port10, 500, 1, dwHandle), EMFILE);
    EXPECT_EQ(table.Add(port10, 501, 1, dwHandle), 0);
}

constexpr std::size_t RECORD = RECORD_DATA_OFFSET + 100, NOTICE = RECORD_DATA_OFFSET + 8;

struct CQueued {
    std::uint32_t dwSequence;
    std::uint32_t dwDropped; // 0: a data record
    bool operator==(const CQueued&) const = default;
};

CQueued PopQueued(CAttachment& attachment) {
    const auto record = attachment.PopFront();
    const bool bNotice = record[RECORD_EVENT_TYPE_OFFSET] == CAPTURE_DRIVER_NOTICE;
    EXPECT_TRUE(!bNotice || GetU32(record.data() + RECORD_DATA_OFFSET) == NOTICE_RECORDS_DROPPED);
    return {Records::SequenceOf(record),
            bNotice ? GetU32(record.data() + RECORD_DATA_OFFSET + 4) : 0};
}

TEST(AttachmentQueueTest, AGapIsOneNoticeWhenTheNextRecordFitsOrTheQueueEmpties) {
    CAttachment attachment(1, CPortId{1, 2}, 0, 0, 3 * RECORD + NOTICE);
    const std::vector<std::uint8_t> payload(100, 'x');
    const auto offer = [&](int nCount) {
        for (int i = 0; i < nCount; ++i)
            attachment.Offer(CAPTURE_DATA_READ, 1, 0, payload);
    };
    offer(10); // 3 fit, 7 dropped
    EXPECT_EQ(PopQueued(attachment), (CQueued{1, 0}));
    offer(1); // room for the notice and the record: the gap ends
    offer(2); // a new gap of 2
    EXPECT_EQ(PopQueued(attachment), (CQueued{2, 0}));
    EXPECT_EQ(PopQueued(attachment), (CQueued{3, 0}));
    EXPECT_EQ(PopQueued(attachment), (CQueued{11, 7}));
    // Drained: the second gap is told at once.
    EXPECT_EQ(PopQueued(attachment), (CQueued{12, 0}));
    EXPECT_EQ(PopQueued(attachment), (CQueued{15, 2}));
    EXPECT_TRUE(attachment.IsEmpty());
    // A record that exactly fills the queue is kept.
    CAttachment exact(2, CPortId{1, 2}, 0, 0, RECORD);
    exact.Offer(CAPTURE_DATA_READ, 1, 0, payload);
    EXPECT_EQ(PopQueued(exact), (CQueued{1, 0}));
}

} // namespace
