// The driver over its real socket, fed by the replay source.
#include "CDriverProcess.h"
#include "CPty.h"
#include "CRawClient.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

using namespace Vantry;
using namespace std::string_literals;
using Records::SequenceOf;
using Records::Stamped;

namespace {

struct DriverProtocolTest : ::testing::Test {
    CDriverProcess driver;
    CPty pty;

    void StartReplay(const std::vector<Bytes>& records, std::vector<std::string> extra = {}) {
        ASSERT_TRUE(driver.StartReplay(records, extra)) << driver.Stderr();
    }
};

// Order, stamps and numbering of whole records are CliMonitorTest's, byte
// for byte through the client.
TEST_F(DriverProtocolTest, LargePayloadsArriveSplitUnderOneStampAndPid) {
    Bytes big(200000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = std::uint8_t(i * 13);
    const std::uint64_t T0 = 1700000000000000000ull;
    StartReplay(
        {Stamped(Records::Written(big), T0 + 9, 42), Stamped(Records::Read("z"), T0 + 12, 43)});
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    Bytes joined;
    std::uint32_t dwSequence = 0;
    for (const std::uint32_t dwPart : {65536u, 65536u, 65536u, 3392u}) {
        const Bytes record = client.Next(dwHandle);
        ASSERT_EQ(record.size(), RECORD_DATA_OFFSET + dwPart);
        EXPECT_EQ(GetU32(record.data() + RECORD_DATA_LENGTH_OFFSET), dwPart);
        EXPECT_EQ(SequenceOf(record), ++dwSequence);
        EXPECT_EQ(GetU64(record.data()), T0 + 9);
        EXPECT_EQ(GetU32(record.data() + RECORD_PID_OFFSET), 42u);
        EXPECT_EQ(record[RECORD_EVENT_TYPE_OFFSET], CAPTURE_DATA_WRITTEN);
        joined.insert(joined.end(), record.begin() + RECORD_DATA_OFFSET, record.end());
    }
    EXPECT_EQ(joined, big);
    EXPECT_EQ(client.Next(dwHandle), Stamped(Records::Read("z"), T0 + 12, 43, 5));
}

TEST_F(DriverProtocolTest, ReplayKeepsTheRecordedPacing) {
    const std::uint64_t T0 = 1700000000000000000ull, GAP = 40000000; // 40 ms
    const std::vector<Bytes> records = {Stamped(Records::Read("a"), T0),
                                        Stamped(Records::Read("b"), T0 + GAP),
                                        Stamped(Records::Read("c"), T0 + 2 * GAP)};
    ASSERT_TRUE(driver.Start({"--replay", driver.WriteFile("paced.rec", Records::File(records))}));
    CRawClient client(driver.DevicePath());
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    for (const char ch : {'a', 'b', 'c'})
        EXPECT_EQ(client.Next(dwHandle).back(), ch);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::nanoseconds(2 * GAP));
}

TEST_F(DriverProtocolTest, DetachAnswersAPendingWaitAndAVanishedClientLeavesNothing) {
    ASSERT_TRUE(driver.Start()) << driver.Stderr();
    CRawClient owner(driver.DevicePath()), waiter(driver.DevicePath());
    const std::uint32_t dwHandle = owner.AttachOk(pty.Slave());
    waiter.Send(CRawClient::Request(IOCTL_VANTRY_WAIT_RECORD, 4, CRawClient::Handle(dwHandle)));
    EXPECT_FALSE(waiter.HasAnswer());
    EXPECT_EQ(owner.Detach(dwHandle), 0);
    EXPECT_EQ(waiter.Receive().nStatus, EBADF);
    EXPECT_EQ(waiter.Wait(dwHandle).nStatus, EBADF);

    // A client attaches, parks a wait and dies: its attachment goes with it.
    const int nThreads = driver.ThreadCount();
    std::uint32_t dwOrphan = 0;
    {
        CRawClient doomed(driver.DevicePath());
        dwOrphan = doomed.AttachOk(pty.Slave());
        doomed.Send(CRawClient::Request(IOCTL_VANTRY_WAIT_RECORD, 4, CRawClient::Handle(dwOrphan)));
        EXPECT_EQ(owner.Call(CRawClient::Request(IOCTL_VANTRY_WAIT_RECORD, 4, {})).nStatus, EINVAL);
    }
    EXPECT_EQ(owner.Detach(dwOrphan), EBADF);
    EXPECT_EQ(driver.ThreadCount(), nThreads);
    EXPECT_EQ(driver.Stop(), 0);
}

TEST_F(DriverProtocolTest, BadRequestsGetAnErrnoAndChangeNothing) {
    StartReplay({Records::Read(Bytes{'A'}), Records::Read(Bytes{'B'})});
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    const Bytes handle = CRawClient::Handle(dwHandle);
    ASSERT_EQ(client.Wait(dwHandle).nStatus, 0); // a record waits, for the capacity cases
    const auto path = [](std::u16string text) {
        Bytes bytes;
        for (const char16_t ch : text)
            bytes.insert(bytes.end(), {std::uint8_t(ch), std::uint8_t(ch >> 8)});
        return bytes;
    };
    const auto attach = [](const Bytes& input) {
        return CRawClient::Request(IOCTL_VANTRY_ATTACH, 4, input);
    };
    struct Case {
        const char* pszWhat;
        Bytes message;
        int nStatus;
    } cases[] = {
        {"empty request", {}, EBADMSG},
        {"short request", {0x04, 0x20, 0x01, 0x10, 4, 0, 0}, EBADMSG},
        {"unknown code", CRawClient::Request(0x10012014, 4, handle), ENOTTY},
        {"detach, 3-byte input", CRawClient::Request(IOCTL_VANTRY_DETACH, 0, {1, 0, 0}), EINVAL},
        {"wait, 5-byte input", CRawClient::Request(IOCTL_VANTRY_WAIT_RECORD, 4, {1, 0, 0, 0, 0}),
         EINVAL},
        {"fetch, no input", CRawClient::Request(IOCTL_VANTRY_FETCH_RECORD, 64, {}), EINVAL},
        {"attach, capacity 3", CRawClient::Request(IOCTL_VANTRY_ATTACH, 3, path(u"/dev/ptmx\0"s)),
         ERANGE},
        {"wait, capacity 3", CRawClient::Request(IOCTL_VANTRY_WAIT_RECORD, 3, handle), ERANGE},
        {"fetch, capacity too small", CRawClient::Request(IOCTL_VANTRY_FETCH_RECORD, 24, handle),
         ERANGE},
        {"detach, unknown handle",
         CRawClient::Request(IOCTL_VANTRY_DETACH, 0, CRawClient::Handle(dwHandle + 1)), EBADF},
        {"wait, handle 0", CRawClient::Request(IOCTL_VANTRY_WAIT_RECORD, 4, CRawClient::Handle(0)),
         EBADF},
        {"fetch, unknown handle",
         CRawClient::Request(IOCTL_VANTRY_FETCH_RECORD, 64, CRawClient::Handle(77777)), EBADF},
        {"path of odd size", attach({'/', 0, 'd'}), EINVAL},
        {"path without NUL", attach(path(u"/dev/ptmx")), EINVAL},
        {"path with a NUL inside", attach(path(u"/dev\0/ptmx\0"s)), EINVAL},
        {"path with a lone surrogate", attach(path(u"/dev/\xD800x\0"s)), EINVAL},
        {"empty path", attach(path(u"\0"s)), EINVAL},
        {"relative path", attach(path(u"dev/ptmx\0"s)), EINVAL},
        {"path of nothing", attach(path(u"/dev/no-such-port\0"s)), ENOENT},
        {"path too long", attach(Bytes(20000, 'a')), ENAMETOOLONG},
        {"not a terminal", attach(path(u"/dev/null\0"s)), ENOTTY},
        {"a directory", attach(path(u"/dev\0"s)), ENOTTY},
    };
    for (const auto& c : cases)
        EXPECT_EQ(client.Call(c.message).nStatus, c.nStatus) << c.pszWhat;

    // Both records are still there, in order, on the same connection.
    EXPECT_EQ(client.Next(dwHandle),
              (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'A'}));
    EXPECT_EQ(SequenceOf(client.Next(dwHandle)), 2u);
    EXPECT_EQ(client.Fetch(dwHandle, 64).nStatus, EAGAIN);
    EXPECT_EQ(client.Detach(dwHandle), 0);
}

TEST_F(DriverProtocolTest, AFullQueueDropsCountsAndReportsInOrder) {
    constexpr int RECORDS = 300;
    std::vector<Bytes> records;
    for (int i = 0; i < RECORDS; ++i) {
        Bytes payload(1000, std::uint8_t(i));
        PutU32(payload.data(), std::uint32_t(i));
        records.push_back(Records::Read(payload));
    }
    StartReplay(records, {"--queue-limit", "8192"});
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());

    int nDelivered = 0, nDropped = 0, nNotices = 0, nLastIndex = -1;
    std::uint32_t dwLastSequence = 0;
    while (nDelivered + nDropped < RECORDS) {
        const Bytes record = client.Next(dwHandle);
        ASSERT_GE(record.size(), RECORD_DATA_OFFSET);
        const std::uint32_t dwSequence = SequenceOf(record);
        ASSERT_GT(dwSequence, dwLastSequence);
        if (record[RECORD_EVENT_TYPE_OFFSET] == CAPTURE_DRIVER_NOTICE) {
            ASSERT_EQ(record.size(), RECORD_DATA_OFFSET + NOTICE_PAYLOAD_SIZE);
            EXPECT_EQ(GetU32(record.data() + RECORD_DATA_OFFSET), NOTICE_RECORDS_DROPPED);
            const std::uint32_t dwCount = GetU32(record.data() + RECORD_DATA_OFFSET + 4);
            EXPECT_EQ(dwSequence - dwLastSequence - 1, dwCount); // the gap is the loss
            nDropped += int(dwCount);
            ++nNotices;
        } else {
            const int nIndex = int(GetU32(record.data() + RECORD_DATA_OFFSET));
            EXPECT_EQ(nIndex - nLastIndex - 1, int(dwSequence - dwLastSequence - 1));
            nLastIndex = nIndex;
            ++nDelivered;
        }
        dwLastSequence = dwSequence;
    }
    EXPECT_EQ(nDelivered + nDropped, RECORDS);
    EXPECT_GT(nNotices, 0);
    EXPECT_LT(nDelivered, RECORDS);
}

} // namespace
