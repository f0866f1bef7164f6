// The driver's queues in process: fan-out to every attachment of a port and
// the wake-up of a parked wait. What a live source publishes goes this way;
// the overflow notice is AttachmentQueueTest's, and DriverProtocolTest's
// over the socket.
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

} // namespace
