#include "CTraceeMemory.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <span>

namespace {

// More control data than any sender of a few fds needs; the kernel itself
// takes at most about this much (net.core.optmem_max).
constexpr std::size_t MAX_CONTROL = 64 * 1024;

// process_vm_readv stops at the first bad page of a remote vector; collect
// what did arrive so a half-unmapped buffer still yields its readable start.
std::size_t ReadRemote(pid_t nTid, std::uint8_t* pLocal, std::size_t nSize,
                       std::span<const iovec> remote) {
    std::size_t nDone = 0;
    std::size_t nFirst = 0;
    while (nFirst < remote.size() && nDone < nSize) {
        const iovec local{pLocal + nDone, nSize - nDone};
        const std::size_t nRemote = std::min<std::size_t>(remote.size() - nFirst, IOV_MAX);
        const ssize_t n = process_vm_readv(nTid, &local, 1, remote.data() + nFirst, nRemote, 0);
        if (n <= 0)
            break;
        nDone += std::size_t(n);
        // Skip the remote vectors that were consumed in full.
        std::size_t nLeft = std::size_t(n);
        while (nFirst < remote.size() && nLeft >= remote[nFirst].iov_len) {
            nLeft -= remote[nFirst].iov_len;
            ++nFirst;
        }
        if (nLeft > 0)
            break; // short inside a vector: the rest of it is unreadable
    }
    return nDone;
}

} // namespace

std::size_t CTraceeMemory::Read(CTraceeAddress address, std::size_t nSize,
                                std::vector<std::uint8_t>& out) const {
    if (nSize == 0)
        return 0;
    const std::size_t nOld = out.size();
    out.resize(nOld + nSize);
    const iovec remote{reinterpret_cast<void*>(address.Value()), nSize};
    const std::size_t nDone = ReadRemote(m_nTid, out.data() + nOld, nSize, {&remote, 1});
    out.resize(nOld + nDone);
    return nDone;
}

std::size_t CTraceeMemory::ReadVectors(CTraceeAddress vectors, std::uint64_t nCount,
                                       std::size_t nLimit, std::vector<std::uint8_t>& out) const {
    // The kernel refuses more than IOV_MAX vectors, so a successful call has
    // at most that many.
    nCount = std::min<std::uint64_t>(nCount, IOV_MAX);
    std::vector<std::uint8_t> raw;
    Read(vectors, std::size_t(nCount) * sizeof(iovec), raw);
    std::vector<iovec> remote;
    std::size_t nWanted = 0;
    for (std::size_t i = 0; i + sizeof(iovec) <= raw.size() && nWanted < nLimit;
         i += sizeof(iovec)) {
        std::uint64_t qwBase, qwLength;
        std::copy_n(raw.data() + i, 8, reinterpret_cast<std::uint8_t*>(&qwBase));
        std::copy_n(raw.data() + i + 8, 8, reinterpret_cast<std::uint8_t*>(&qwLength));
        const std::size_t nTake = std::size_t(std::min<std::uint64_t>(qwLength, nLimit - nWanted));
        if (nTake == 0)
            continue;
        remote.push_back({reinterpret_cast<void*>(qwBase), nTake});
        nWanted += nTake;
    }
    const std::size_t nOld = out.size();
    out.resize(nOld + nWanted);
    const std::size_t nDone = ReadRemote(m_nTid, out.data() + nOld, nWanted, remote);
    out.resize(nOld + nDone);
    return nDone;
}

std::vector<int> CTraceeMemory::PassedFds(CTraceeAddress message) const {
    std::vector<std::uint8_t> raw;
    if (Read(message, sizeof(msghdr), raw) != sizeof(msghdr))
        return {};
    msghdr header;
    std::copy_n(raw.data(), sizeof header, reinterpret_cast<std::uint8_t*>(&header));
    std::vector<std::uint8_t> control;
    Read(CTraceeAddress(reinterpret_cast<std::uint64_t>(header.msg_control)),
         std::min<std::size_t>(header.msg_controllen, MAX_CONTROL), control);
    // The walk runs over our copy: the macros read only through msg_control
    // and msg_controllen, which now describe it.
    header.msg_control = control.data();
    header.msg_controllen = control.size();
    std::vector<int> fds;
    for (cmsghdr* pHeader = CMSG_FIRSTHDR(&header); pHeader != nullptr;
         pHeader = CMSG_NXTHDR(&header, pHeader)) {
        if (pHeader->cmsg_level != SOL_SOCKET || pHeader->cmsg_type != SCM_RIGHTS ||
            pHeader->cmsg_len < CMSG_LEN(0))
            continue;
        // A header that claims more than the copy holds is read as far as it goes.
        const std::size_t nFirst = std::size_t(CMSG_DATA(pHeader) - control.data());
        const std::size_t nCount = (pHeader->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < nCount; ++i) {
            const std::size_t nAt = nFirst + i * sizeof(int);
            if (nAt + sizeof(int) > control.size())
                break;
            int nFd;
            std::copy_n(control.data() + nAt, sizeof nFd, reinterpret_cast<std::uint8_t*>(&nFd));
            fds.push_back(nFd);
        }
    }
    return fds;
}
