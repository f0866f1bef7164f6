// Reads from another process's memory must come up short, never fail hard,
// when the buffer is partly unmapped or the process is gone. The reads go
// through the same system call whoever the process is: here, the test's own.
#include "CTraceeMemory.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

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
    ASSERT_EQ(out.size(), 1 + nPage);
    for (std::size_t i = 0; i < nPage; ++i)
        ASSERT_EQ(out[1 + i], Pattern(i)) << i;

    const CTraceeAddress vectorsAt{std::uint64_t(&vectors[0])};
    out.clear();
    EXPECT_EQ(memory.ReadVectors(vectorsAt, 3, 300, out), 100u);
    ASSERT_EQ(out.size(), 100u);
    EXPECT_EQ(out.front(), Pattern(nPage - 100));
    EXPECT_EQ(out.back(), Pattern(nPage - 1));
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
    munmap(p, nPage);
    munmap(p + 2 * nPage, nPage);
}

} // namespace
