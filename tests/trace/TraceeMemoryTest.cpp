// Reads from another process's memory must come up short, never fail hard,
// when the buffer is partly unmapped or the process is gone.
#include "CTraceeMemory.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::uint8_t Pattern(std::size_t i) {
    return std::uint8_t(i * 7 + 3);
}

TEST(TraceeMemoryTest, ReadsUpToTheFirstHoleAndNothingFromAVanishedProcess) {
    const std::size_t nPage = std::size_t(sysconf(_SC_PAGESIZE));
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t nChild = fork();
    if (nChild == 0) {
        // Three pages with the middle one unmapped, and an iovec array that
        // points into each of them.
        auto* p = static_cast<std::uint8_t*>(
            mmap(nullptr, 3 * nPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        for (std::size_t i = 0; i < 3 * nPage; ++i)
            p[i] = Pattern(i);
        munmap(p + nPage, nPage);
        static iovec vectors[3];
        vectors[0] = {p + nPage - 100, 100};
        vectors[1] = {p + nPage, 100};
        vectors[2] = {p + 2 * nPage, 100};
        const std::uint64_t addresses[2] = {std::uint64_t(p), std::uint64_t(vectors)};
        [[maybe_unused]] auto n = write(pipeFds[1], addresses, sizeof addresses);
        for (;;)
            pause();
    }
    std::uint64_t addresses[2];
    ASSERT_EQ(read(pipeFds[0], addresses, sizeof addresses), ssize_t(sizeof addresses));
    const CTraceeMemory memory(nChild);

    std::vector<std::uint8_t> out{0xEE}; // reads append
    EXPECT_EQ(memory.Read(CTraceeAddress(addresses[0]), 2 * nPage, out), nPage);
    ASSERT_EQ(out.size(), 1 + nPage);
    for (std::size_t i = 0; i < nPage; ++i)
        ASSERT_EQ(out[1 + i], Pattern(i)) << i;

    out.clear();
    EXPECT_EQ(memory.ReadVectors(CTraceeAddress(addresses[1]), 3, 300, out), 100u);
    ASSERT_EQ(out.size(), 100u);
    EXPECT_EQ(out.front(), Pattern(nPage - 100));
    EXPECT_EQ(out.back(), Pattern(nPage - 1));
    // Only as many bytes as the call moved.
    out.clear();
    EXPECT_EQ(memory.ReadVectors(CTraceeAddress(addresses[1]), 3, 40, out), 40u);
    EXPECT_EQ(out.size(), 40u);
    // A bad vector array is an empty read.
    out.clear();
    EXPECT_EQ(memory.ReadVectors(CTraceeAddress(addresses[0] + nPage), 3, 300, out), 0u);

    kill(nChild, SIGKILL);
    waitpid(nChild, nullptr, 0);
    out.clear();
    EXPECT_EQ(memory.Read(CTraceeAddress(addresses[0]), 16, out), 0u);
    EXPECT_TRUE(out.empty());
    close(pipeFds[0]);
    close(pipeFds[1]);
}

} // namespace
