// One attachment's queue when it overflows: a gap of dropped records, however
// long, is reported by one notice with its count, in the gap's place.
#include "CAttachment.h"
#include "Records.h"
#include "VantryProtocol.h"

#include <gtest/gtest.h>

using namespace Vantry;

namespace {

constexpr std::size_t RECORD = RECORD_DATA_OFFSET + 100, NOTICE = RECORD_DATA_OFFSET + 8;

struct CQueued {
    std::uint32_t dwSequence;
    std::uint32_t dwDropped; // 0: a data record
    bool operator==(const CQueued&) const = default;
};

CQueued Pop(CAttachment& attachment) {
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
    EXPECT_EQ(Pop(attachment), (CQueued{1, 0}));
    offer(1); // room for the notice and the record: the gap ends
    offer(2); // a new gap of 2
    EXPECT_EQ(Pop(attachment), (CQueued{2, 0}));
    EXPECT_EQ(Pop(attachment), (CQueued{3, 0}));
    EXPECT_EQ(Pop(attachment), (CQueued{11, 7}));
    // Drained: the second gap is told at once.
    EXPECT_EQ(Pop(attachment), (CQueued{12, 0}));
    EXPECT_EQ(Pop(attachment), (CQueued{15, 2}));
    EXPECT_TRUE(attachment.IsEmpty());
    // A record that exactly fills the queue is kept.
    CAttachment exact(2, CPortId{1, 2}, 0, 0, RECORD);
    exact.Offer(CAPTURE_DATA_READ, 1, 0, payload);
    EXPECT_EQ(Pop(exact), (CQueued{1, 0}));
}

} // namespace
