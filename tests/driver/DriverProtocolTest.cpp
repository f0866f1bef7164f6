// The driver over its real socket, fed by the replay source; and starting
// and stopping it as a service manager would.
#include "CDriverProcess.h"
#include "CPty.h"
#include "CRawClient.h"
#include "CRefusalLog.h"
#include "Records.h"
#include "RunAs.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

using namespace Vantry;
using namespace std::string_literals;
using Records::SequenceOf;
using Records::Stamped;

namespace {

struct DriverProtocolTest : ::testing::Test {
    CDriverProcess driver;
    CPty pty;

    // What the driver answers to bytes that are not even a request header.
    int RawStatus(const Bytes& message) {
        CScopedFd hSocket(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        const sockaddr_un address = UnixAddress(driver.DevicePath());
        std::uint8_t answer[16];
        if (connect(hSocket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) ||
            send(hSocket.Get(), message.data(), message.size(), 0) < 0 ||
            recv(hSocket.Get(), answer, sizeof answer, 0) < 4)
            return -1;
        return int(GetU32(answer));
    }
};

// Order, stamps and numbering of whole records are CliMonitorTest's, byte
// for byte through the client.
TEST_F(DriverProtocolTest, LargePayloadsArriveSplitUnderOneStampAndPid) {
    Bytes big(200000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = std::uint8_t(i * 13);
    const std::uint64_t T0 = 1700000000000000000ull;
    ASSERT_TRUE(driver.StartReplay(
        {Stamped(Records::Written(big), T0 + 9, 42), Stamped(Records::Read("z"), T0 + 12, 43)}));
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    std::uint32_t dwSequence = 0;
    for (auto it = big.begin(); const std::size_t nPart : {65536u, 65536u, 65536u, 3392u}) {
        const Bytes part(it, it + std::ptrdiff_t(nPart));
        EXPECT_EQ(client.Next(dwHandle), Stamped(Records::Written(part), T0 + 9, 42, ++dwSequence));
        it += std::ptrdiff_t(nPart);
    }
    EXPECT_EQ(client.Next(dwHandle), Stamped(Records::Read("z"), T0 + 12, 43, 5));
}

// A damaged time far in the future costs a paced replay one pause of at
// most a second, not the jump, and overflows nothing. How closely the
// replay keeps its pacing is bench_driver's.
TEST_F(DriverProtocolTest, APacedReplaySurvivesTimesFarInTheFuture) {
    const std::vector<Bytes> records = {Stamped(Records::Read("a"), 1700000000000000000ull),
                                        Stamped(Records::Read("b"), 1ull << 63),
                                        Stamped(Records::Read("c"), UINT64_MAX)};
    ASSERT_TRUE(driver.Start({"--replay", driver.WriteFile("paced.rec", Records::File(records))}));
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    for (const char ch : {'a', 'b', 'c'})
        EXPECT_EQ(client.Next(dwHandle),
                  Stamped(Records::Read(std::string(1, ch)), GetU64(records[ch - 'a'].data()), 0,
                          ch - 'a' + 1));
}

// A batch is a record file's bytes: as many whole records as fit, never
// more than one message carries whatever the capacity. The oldest record
// alone too large stays queued; an empty queue parks the request until a
// record comes.
TEST_F(DriverProtocolTest, ABatchIsWholeRecordsAsInARecordFileAndParksOnAnEmptyQueue) {
    std::vector<Bytes> records(300, Stamped(Records::Read(Bytes(1000, 'x')), 1));
    records.push_back(Stamped(Records::Read("late"), 1000000001)); // a second later
    ASSERT_TRUE(driver.Start({"--replay", driver.WriteFile("r.rec", Records::File(records))}));
    CRawClient client(driver.DevicePath());
    const Bytes handle = CRawClient::Handle(client.AttachOk(pty.Slave()));
    // The replay serves a later attachment after it: once this one has its
    // 300 records, all of the first one's are queued.
    const std::uint32_t dwWitness = client.AttachOk(pty.Slave());
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(client.Next(dwWitness).size(), 1024u);
    const auto batch = [&](std::uint32_t dwCapacity) {
        return client.Call(IOCTL_VANTRY_FETCH_RECORDS, dwCapacity, handle);
    };
    EXPECT_EQ(batch(27).nStatus, ERANGE);
    EXPECT_EQ(batch(4 + 1023).nStatus, ERANGE);
    Bytes file;
    for (const auto& [dwCapacity, nSize] : {std::pair{1u << 20, 255 * 1028u},
                                            {10 * 1028u, 10 * 1028u},
                                            {1u << 20, 35 * 1028u},
                                            {1u << 20, 4 + 28u}}) {
        const auto answer = batch(dwCapacity);
        ASSERT_EQ(answer.nStatus, 0);
        EXPECT_EQ(answer.output.size(), nSize);
        file.insert(file.end(), answer.output.begin(), answer.output.end());
    }
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i] = Stamped(records[i], GetU64(records[i].data()), 0, std::uint32_t(i + 1));
    EXPECT_EQ(file, Records::File(records));
}

TEST_F(DriverProtocolTest, DetachAnswersPendingWaitsOfOtherConnections) {
    ASSERT_TRUE(driver.Start()) << driver.Stderr();
    CRawClient owner(driver.DevicePath()), waiter(driver.DevicePath());
    const std::uint32_t dwHandle = owner.AttachOk(pty.Slave());
    CRawClient batchWaiter(driver.DevicePath());
    auto waiting = std::async(std::launch::async, [&] { return waiter.Wait(dwHandle).nStatus; });
    auto batching = std::async(std::launch::async, [&] {
        return batchWaiter.Call(IOCTL_VANTRY_FETCH_RECORDS, 1024, CRawClient::Handle(dwHandle))
            .nStatus;
    });
    EXPECT_EQ(waiting.wait_for(100ms), std::future_status::timeout);
    EXPECT_EQ(owner.Detach(dwHandle), 0);
    EXPECT_EQ(waiting.get(), EBADF);
    EXPECT_EQ(batching.get(), EBADF);
    EXPECT_EQ(owner.Wait(dwHandle).nStatus, EBADF);
}

TEST_F(DriverProtocolTest, BadRequestsGetAnErrnoAndChangeNothing) {
    ASSERT_TRUE(driver.StartReplay({Records::Read(Bytes{'A'}), Records::Read(Bytes{'B'})}));
    CRawClient client(driver.DevicePath());
    const std::uint32_t dwHandle = client.AttachOk(pty.Slave());
    const Bytes handle = CRawClient::Handle(dwHandle);
    ASSERT_EQ(client.Wait(dwHandle).nStatus, 0); // a record waits, for the capacity cases
    EXPECT_EQ(RawStatus({}), EBADMSG);
    EXPECT_EQ(RawStatus({0x04, 0x20, 0x01, 0x10, 4, 0, 0}), EBADMSG);
    const auto path = [](const std::u16string& text) { // UTF-16LE, as x86 and ARM hold it
        const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
        return Bytes(p, p + 2 * text.size());
    };
    struct Case {
        const char* pszWhat;
        std::uint32_t dwCode, dwCapacity;
        Bytes input;
        int nStatus;
    } cases[] = {
        {"unknown code", 0x1001201C, 4, handle, ENOTTY},
        {"capture source, an input", IOCTL_VANTRY_CAPTURE_SOURCE, 64, handle, EINVAL},
        {"capture source, capacity 5", IOCTL_VANTRY_CAPTURE_SOURCE, 5, {}, ERANGE},
        {"detach, 3-byte input", IOCTL_VANTRY_DETACH, 0, {1, 0, 0}, EINVAL},
        {"wait, 5-byte input", IOCTL_VANTRY_WAIT_RECORD, 4, {1, 0, 0, 0, 0}, EINVAL},
        {"attach, capacity 3", IOCTL_VANTRY_ATTACH, 3, path(u"/dev/ptmx\0"s), ERANGE},
        {"wait, capacity 3", IOCTL_VANTRY_WAIT_RECORD, 3, handle, ERANGE},
        {"fetch, capacity too small", IOCTL_VANTRY_FETCH_RECORD, 24, handle, ERANGE},
        {"detach, unknown handle", IOCTL_VANTRY_DETACH, 0, CRawClient::Handle(dwHandle + 1), EBADF},
        {"wait, handle 0", IOCTL_VANTRY_WAIT_RECORD, 4, CRawClient::Handle(0), EBADF},
        {"fetch, unknown handle", IOCTL_VANTRY_FETCH_RECORD, 64, CRawClient::Handle(77777), EBADF},
        {"path of odd size", IOCTL_VANTRY_ATTACH, 4, {'/', 0, 'd'}, EINVAL},
        {"path without NUL", IOCTL_VANTRY_ATTACH, 4, path(u"/dev/ptmx"), EINVAL},
        {"path with a NUL inside", IOCTL_VANTRY_ATTACH, 4, path(u"/dev\0/ptmx\0"s), EINVAL},
        {"path with a lone surrogate", IOCTL_VANTRY_ATTACH, 4, path(u"/dev/\xD800x\0"s), EINVAL},
        {"empty path", IOCTL_VANTRY_ATTACH, 4, path(u"\0"s), EINVAL},
        {"relative path", IOCTL_VANTRY_ATTACH, 4, path(u"dev/ptmx\0"s), EINVAL},
        {"path too long", IOCTL_VANTRY_ATTACH, 4, Bytes(20000, 'a'), ENAMETOOLONG},
    };
    for (const auto& c : cases)
        EXPECT_EQ(client.Call(c.dwCode, c.dwCapacity, c.input).nStatus, c.nStatus) << c.pszWhat;

    // Both records are still there, in order, on the same connection.
    EXPECT_EQ(client.Next(dwHandle),
              (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'A'}));
    EXPECT_EQ(SequenceOf(client.Next(dwHandle)), 2u);
    EXPECT_EQ(client.Fetch(dwHandle, 64).nStatus, EAGAIN);
    EXPECT_EQ(client.Detach(dwHandle), 0);
}

// Any client may ask; the answer is what the log says, and fits its length.
TEST_F(DriverProtocolTest, TheDriverSaysHowItCaptures) {
    ASSERT_TRUE(driver.StartReplay({})) << driver.Stderr();
    EXPECT_EQ(CRawClient(driver.DevicePath()).Call(IOCTL_VANTRY_CAPTURE_SOURCE, 6).output,
              (Bytes{'r', 'e', 'p', 'l', 'a', 'y'}));
    for (const char* pszSource : {"ptrace", "auto"}) {
        CDriverProcess live;
        ASSERT_TRUE(live.Start({"--source", pszSource})) << live.Stderr();
        const Bytes answer =
            CRawClient(live.DevicePath()).Call(IOCTL_VANTRY_CAPTURE_SOURCE, 64).output;
        live.Stop();
        const std::string strAnswer(answer.begin(), answer.end());
        const std::string strLogged = strAnswer.starts_with("ebpf ")
                                          ? "with eBPF (" + strAnswer.substr(5) + " system-call"
                                          : "with " + strAnswer;
        EXPECT_NE(live.Stderr().find("capturing " + strLogged), std::string::npos)
            << pszSource << ": " << strAnswer << "\n"
            << live.Stderr();
    }
}

// Out of descriptors, a connection is turned away at once: it neither
// waits unserved nor keeps the driver's loop awake.
TEST_F(DriverProtocolTest, ADriverOutOfDescriptorsTurnsConnectionsAway) {
    ASSERT_TRUE(driver.StartReplay({})) << driver.Stderr();
    const std::string strFds = "/proc/" + std::to_string(driver.Pid()) + "/fd";
    const auto nOpen = [&] {
        return std::distance(std::filesystem::directory_iterator(strFds), {});
    };
    long nLimit = 0;
    for (const auto& entry : std::filesystem::directory_iterator(strFds))
        nLimit = std::max(nLimit, std::stol(entry.path().filename()) + 2);
    const rlimit limit{rlim_t(nLimit), rlim_t(nLimit)};
    ASSERT_EQ(prlimit(driver.Pid(), RLIMIT_NOFILE, &limit, nullptr), 0);
    // Served: a request without its handle is answered EINVAL.
    std::vector<std::unique_ptr<CRawClient>> clients;
    while (nOpen() < nLimit) {
        clients.push_back(std::make_unique<CRawClient>(driver.DevicePath()));
        ASSERT_EQ(clients.back()->Call(IOCTL_VANTRY_WAIT_RECORD, 4).nStatus, EINVAL);
    }
    EXPECT_EQ(CRawClient(driver.DevicePath()).Call(IOCTL_VANTRY_WAIT_RECORD, 4).nStatus, EPIPE);
    // Served again once its loop has seen a hang-up free a descriptor (the
    // count in /proc also dips while the driver turns a connection away).
    clients.pop_back();
    int nStatus = EPIPE;
    for (int i = 0; i < 500 && nStatus == EPIPE; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        nStatus = CRawClient(driver.DevicePath()).Call(IOCTL_VANTRY_WAIT_RECORD, 4).nStatus;
    }
    EXPECT_EQ(nStatus, EINVAL);
}

// Refusals are what anyone can cause at will: a path cannot pass for a line
// of the driver's own, and a flood of them writes a few lines.
TEST_F(DriverProtocolTest, RefusedPathsNeitherForgeNorFloodTheLog) {
    ASSERT_TRUE(driver.StartReplay({})) << driver.Stderr();
    CRawClient client(driver.DevicePath());
    EXPECT_EQ(client.Attach("/missing\nvantry.sys: attaching /dev/pts/0 for uid 0").nStatus,
              ENOENT);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(client.Attach("/missing" + std::to_string(i)).nStatus, ENOENT);
    ASSERT_EQ(driver.Stop(), 0);
    std::istringstream log(driver.Stderr());
    int nRefused = 0;
    for (std::string strLine; std::getline(log, strLine);) {
        EXPECT_FALSE(strLine.starts_with("vantry.sys: attaching")) << strLine;
        nRefused += strLine.starts_with("vantry.sys: refused");
    }
    EXPECT_EQ(nRefused, CRefusalLog::LINES_PER_WINDOW) << driver.Stderr();
    EXPECT_NE(driver.Stderr().find("1991 more refusals to uid 0 not logged"), std::string::npos);
}

TEST(DriverLifecycleTest, RefusesAPathInUseReplacesAStaleSocketAndExplainsWhyItCannotStart) {
    CDriverProcess first;
    ASSERT_TRUE(first.Start()) << first.Stderr();

    CDriverProcess second;
    std::ofstream(second.DevicePath()) << "keep me";
    EXPECT_FALSE(second.Start());
    EXPECT_EQ(second.ExitStatus(), 1);
    EXPECT_NE(second.Stderr().find("not a socket"), std::string::npos) << second.Stderr();
    EXPECT_EQ(ReadText(second.DevicePath()), "keep me");

    // A second driver on the first one's device.
    first.UseForThisProcess();
    const auto again = RunProcess({VANTRY_SYS_PATH});
    EXPECT_EQ(again.nExitStatus, 1);
    EXPECT_NE(again.strErr.find("already listening"), std::string::npos) << again.strErr;
    CPty pty;
    EXPECT_EQ(CRawClient(first.DevicePath()).Attach(pty.Slave()).nStatus, 0);

    // A driver killed outright leaves its socket behind: the next one takes
    // it over.
    ASSERT_EQ(kill(first.Pid(), SIGKILL), 0);
    first.Stop();
    ASSERT_EQ(access(first.DevicePath().c_str(), F_OK), 0);
    EXPECT_TRUE(first.Start()) << first.Stderr();
    EXPECT_EQ(CRawClient(first.DevicePath()).Attach(pty.Slave()).nStatus, 0);

    CDriverProcess driver;
    EXPECT_FALSE(driver.Start({}, NOBODY)); // the directory is root's
    EXPECT_EQ(driver.ExitStatus(), 1);
    EXPECT_NE(driver.Stderr().find("Permission denied"), std::string::npos) << driver.Stderr();

    const struct {
        std::vector<std::string> args;
        int nExitStatus;
        std::string strSays;
    } cases[] = {
        {{"--replay", driver.Dir() + "/missing.rec"}, 1, "missing.rec"},
        {{"--replay", driver.Dir()}, 1, "Is a directory"},
        {{"--replay", driver.WriteFile("text", {'h', 'e', 'l', 'l', 'o'})}, 1, "not a record file"},
        {{"--queue-limit", "10"}, 2, "10: the limit is a number of bytes, at least 1024"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(driver.Start(c.args));
        EXPECT_EQ(driver.ExitStatus(), c.nExitStatus);
        EXPECT_NE(driver.Stderr().find(c.strSays), std::string::npos) << driver.Stderr();
        EXPECT_NE(access(driver.DevicePath().c_str(), F_OK), 0);
    }
}

} // namespace
