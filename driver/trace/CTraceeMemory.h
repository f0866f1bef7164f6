// Copies bytes out of a traced thread's address space. Every read may fail
// or come up short: another thread of the tracee can change or unmap the
// buffer while we look, and the tracee can vanish. Reads never stall and
// never touch our own memory beyond the destination.
#pragma once

#include "CTraceeAddress.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

class CTraceeMemory {
public:
    explicit CTraceeMemory(pid_t nTid) : m_nTid(nTid) {}

    // Appends up to nSize bytes at `address` to `out`; returns how many came.
    std::size_t Read(CTraceeAddress address, std::size_t nSize,
                     std::vector<std::uint8_t>& out) const;

    // Appends the first nLimit bytes described by the tracee's iovec array
    // (`vectors`, nCount entries), as readv/writev would have moved them.
    std::size_t ReadVectors(CTraceeAddress vectors, std::uint64_t nCount, std::size_t nLimit,
                            std::vector<std::uint8_t>& out) const;

    // The fds that the sendmsg message at `message` (a struct msghdr) hands
    // over with SCM_RIGHTS, as far as its control data can be read.
    std::vector<int> PassedFds(CTraceeAddress message) const;

private:
    pid_t m_nTid;
};
