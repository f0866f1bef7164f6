// Parts of the live sources on their own, where a live capture cannot
// reach every case.
#include "CEventTally.h"
#include "CTraceeMemory.h"
#include "TermiosDecoder.h"

#include "VantryProtocol.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace {

constexpr std::uint64_t MS = 1'000'000;

// inotify's folded closes told from fanotify's count: only once inotify had
// time to catch up, once per loss, and never for fanotify's own folds of
// one process's closes.
TEST(EventTallyTest, FewerInotifyClosesThanFanotifyCountedAWhileAgoAreFolded) {
    CEventTally tally;
    tally.CountFanotify(2);
    tally.CountInotify();
    EXPECT_FALSE(tally.Check(20 * MS)); // its twin may still be on its way
    EXPECT_FALSE(tally.IsSettled());
    EXPECT_FALSE(tally.Check(25 * MS));
    EXPECT_TRUE(tally.Check(30 * MS));
    EXPECT_TRUE(tally.IsSettled());
    EXPECT_FALSE(tally.Check(40 * MS));

    // One process closing twice is one fanotify event: no loss, and
    // inotify's extra close hides none that comes later.
    tally.CountInotify();
    tally.CountInotify();
    tally.CountFanotify(1);
    EXPECT_FALSE(tally.Check(50 * MS));
    EXPECT_FALSE(tally.Check(60 * MS));
    EXPECT_TRUE(tally.IsSettled());
    tally.CountFanotify(1);
    EXPECT_FALSE(tally.Check(70 * MS));
    EXPECT_TRUE(tally.Check(80 * MS));
}

// Reads from another process's memory must come up short, never fail hard,
// when the buffer is partly unmapped or the process is gone. The reads go
// through the same system call whoever the process is: here, the test's own.
std::uint8_t Pattern(std::size_t i) {
    return std::uint8_t(i * 7 + 3);
}

TEST(TraceeMemoryTest, ReadsUpToTheFirstHoleAndNothingFromAVanishedProcess) {
    // Three pages with the middle one unmapped, and an iovec array that
    // points into each of them.
    const std::size_t nPage = std::size_t(sysconf(_SC_PAGESIZE));
    auto* p = static_cast<std::uint8_t*>(
        mmap(nullptr, 3 * nPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    for (std::size_t i = 0; i < 3 * nPage; ++i)
        p[i] = Pattern(i);
    munmap(p + nPage, nPage);
    const iovec vectors[3] = {{p + nPage - 100, 100}, {p + nPage, 100}, {p + 2 * nPage, 100}};
    const CTraceeMemory memory(getpid());

    std::vector<std::uint8_t> out{0xEE}; // reads append
    EXPECT_EQ(memory.Read(CTraceeAddress(std::uint64_t(p)), 2 * nPage, out), nPage);
    EXPECT_TRUE(out.size() == 1 + nPage && std::equal(p, p + nPage, out.begin() + 1));

    const CTraceeAddress vectorsAt{std::uint64_t(&vectors[0])};
    out.clear();
    EXPECT_EQ(memory.ReadVectors(vectorsAt, 3, 300, out), 100u);
    EXPECT_EQ(out, std::vector<std::uint8_t>(p + nPage - 100, p + nPage));
    // Only as many bytes as the call moved.
    out.clear();
    EXPECT_EQ(memory.ReadVectors(vectorsAt, 3, 40, out), 40u);
    EXPECT_EQ(out.size(), 40u);
    // A bad vector array is an empty read.
    out.clear();
    EXPECT_EQ(memory.ReadVectors(CTraceeAddress(std::uint64_t(p + nPage)), 3, 300, out), 0u);

    const pid_t nGone = fork();
    if (nGone == 0)
        _exit(0);
    waitpid(nGone, nullptr, 0);
    out.clear();
    EXPECT_EQ(CTraceeMemory(nGone).Read(CTraceeAddress(std::uint64_t(p)), 16, out), 0u);
    EXPECT_TRUE(out.empty());
    munmap(p, 3 * nPage);
}

// The decoder against the kernel's own layout, built with the kernel's own
// constants, for the frames and rates TraceTest's applications cannot set on
// a pty (there the common ones are checked end to end).
using TermiosDecoder::ESetCommand;

CLineSettings DecodeCflag(tcflag_t dwCflag, ESetCommand eKind) {
    struct termios2 tio;
    std::memset(&tio, 0xA5, sizeof tio); // flags other than c_cflag must not matter
    tio.c_cflag = dwCflag;
    std::uint8_t termio[18];
    std::memset(termio, 0xA5, sizeof termio);
    termio[4] = std::uint8_t(dwCflag); // struct termio: 16-bit c_cflag at 4
    termio[5] = std::uint8_t(dwCflag >> 8);
    if (eKind == ESetCommand::Termio)
        return TermiosDecoder::Decode(termio, eKind);
    return TermiosDecoder::Decode({reinterpret_cast<const std::uint8_t*>(&tio), sizeof tio}, eKind);
}

TEST(TermiosDecoderTest, RatesFramesAndParities) {
    struct {
        tcflag_t dwCflag;
        ESetCommand eKind;
        std::optional<std::uint32_t> dwRate;
        std::uint8_t byStop, byParity, byBits;
    } const cases[] = {
        {B4000000 | CS6 | PARENB | PARODD | CMSPAR, ESetCommand::Termios2, 4000000, 0, 3, 6},
        {B50 | CS5 | PARENB | CMSPAR, ESetCommand::Termios2, 50, 0, 4, 5},
        {B0 | CS8, ESetCommand::Termios, 0, 0, 0, 8},
        // CMSPAR without PARENB is no parity at all.
        {B9600 | CS8 | CMSPAR | PARODD, ESetCommand::Termios, 9600, 0, 0, 8},
        // The input-speed bits (CIBAUD) do not leak into the output speed.
        {B1200 | (B9600 << IBSHIFT) | CS8, ESetCommand::Termios2, 1200, 0, 0, 8},
        // The old termio: 16-bit flags, read from their own place.
        {B115200 | CS7 | PARENB | CSTOPB, ESetCommand::Termio, 115200, 2, 2, 7},
        {B1200 | CS5 | PARENB | PARODD, ESetCommand::Termio, 1200, 0, 1, 5},
    };
    for (const auto& c : cases) {
        const auto s = DecodeCflag(c.dwCflag, c.eKind);
        EXPECT_EQ(std::tuple(s.dwBaudRate, int(s.byStopBits), int(s.byParity), int(s.byWordLength)),
                  std::tuple(c.dwRate, int(c.byStop), int(c.byParity), int(c.byBits)))
            << std::oct << c.dwCflag;
    }
    // Every way to set, whatever the C library chose; a get sets nothing.
    using enum ESetCommand;
    const std::pair<std::uint64_t, ESetCommand> commands[] = {
        {TCSETA, Termio},     {TCSETAW, Termio},  {TCSETAF, Termio},   {TCSETS, Termios},
        {TCSETSW, Termios},   {TCSETSF, Termios}, {TCSETS2, Termios2}, {TCSETSW2, Termios2},
        {TCSETSF2, Termios2}, {TCGETS2, None}};
    for (const auto& [qwCode, eKind] : commands)
        EXPECT_EQ(TermiosDecoder::ClassifyIoctl(qwCode), eKind) << std::hex << qwCode;
}

} // namespace
