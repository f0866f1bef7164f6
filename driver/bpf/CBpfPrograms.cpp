#include "CBpfPrograms.h"

#include "BpfRecord.h"
#include "vantry.skel.h"

#include <bpf/libbpf.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

// libbpf's complaints while loading, kept for the error that ends it
// rather than spilled on the driver's stderr.
std::mutex g_logMutex;
std::string g_strLibbpfLog;

int CollectLog(libbpf_print_level eLevel, const char* pszFormat, va_list args) {
    if (eLevel == LIBBPF_DEBUG)
        return 0;
    char szLine[512];
    const int nLength = vsnprintf(szLine, sizeof szLine, pszFormat, args);
    std::lock_guard lock(g_logMutex);
    if (g_strLibbpfLog.size() < 4096)
        g_strLibbpfLog += szLine;
    return nLength;
}

// The kernel keeps a device number as major << 20 | minor, unlike dev_t.
bpf_port_key KernelKey(const CPortId& port) {
    return {std::uint32_t(major(port.fileSystem) << 20 | minor(port.fileSystem)),
            std::uint32_t(major(port.device) << 20 | minor(port.device))};
}

// /dev/tty: the programs look at its files while any port is watched.
constexpr std::uint32_t CONTROLLING_TTY = 5 << 20;

// Unix98 pty slaves live on a devpts, whose every instance numbers them
// alike: they are matched by their node, never by device number alone.
bool IsPtySlave(std::uint32_t dwKernelDevice) {
    return dwKernelDevice >> 20 >= 136 && dwKernelDevice >> 20 <= 143;
}

} // namespace

CBpfPrograms::CBpfPrograms(CConsumer consumer) : m_consumer(std::move(consumer)) {
    libbpf_set_print(CollectLog);
    std::string strTyped;
    std::string strRaw;
    if (!TryLoad(true, strTyped) && !TryLoad(false, strRaw))
        throw std::runtime_error("tp_btf: " + strTyped + "; raw_tp: " + strRaw);
}

CBpfPrograms::~CBpfPrograms() {
    Destroy();
}

bool CBpfPrograms::TryLoad(bool bTyped, std::string& strError) {
    {
        std::lock_guard lock(g_logMutex);
        g_strLibbpfLog.clear();
    }
    const auto fail = [&](const char* pszStep, int nError) {
        std::lock_guard lock(g_logMutex);
        strError = std::string(pszStep) + ": " + std::strerror(nError < 0 ? -nError : nError);
        // The last line the library said is usually the kernel's reason.
        const auto nEnd = g_strLibbpfLog.find_last_not_of('\n');
        if (nEnd != std::string::npos) {
            const auto nStart = g_strLibbpfLog.rfind('\n', nEnd);
            strError +=
                " (" +
                g_strLibbpfLog.substr(nStart == std::string::npos ? 0 : nStart + 1,
                                      nEnd + 1 - (nStart == std::string::npos ? 0 : nStart + 1)) +
                ")";
        }
        Destroy();
        return false;
    };
    m_pSkeleton = vantry_bpf__open();
    if (m_pSkeleton == nullptr)
        return fail("open", errno);
    // Process ids are given in our own PID namespace, and only its
    // processes are seen.
    struct stat ns;
    if (stat("/proc/self/ns/pid", &ns) != 0)
        return fail("/proc/self/ns/pid", errno);
    m_pSkeleton->rodata->ns_dev = ns.st_dev;
    m_pSkeleton->rodata->ns_ino = ns.st_ino;
    m_pSkeleton->rodata->self_tgid = std::uint32_t(getpid());
    auto* progs = &m_pSkeleton->progs;
    for (bpf_program* pProgram : {progs->btf_enter, progs->btf_exit, progs->btf_process_exit})
        bpf_program__set_autoload(pProgram, bTyped);
    for (bpf_program* pProgram : {progs->raw_enter, progs->raw_exit, progs->raw_process_exit})
        bpf_program__set_autoload(pProgram, !bTyped);
    if (const int nError = vantry_bpf__load(m_pSkeleton))
        return fail("load", nError);
    if (const int nError = vantry_bpf__attach(m_pSkeleton))
        return fail("attach", nError);
    // Attached only while a port is watched: the system-call tracepoints
    // cost every call of the machine something once anything is on them.
    vantry_bpf__detach(m_pSkeleton);
    m_pRing = ring_buffer__new(bpf_map__fd(m_pSkeleton->maps.records), OnRecord, this, nullptr);
    if (m_pRing == nullptr)
        return fail("ring buffer", errno);
    m_strKind = bTyped ? "tp_btf" : "raw_tp";
    return true;
}

void CBpfPrograms::Destroy() {
    if (m_pRing != nullptr)
        ring_buffer__free(m_pRing);
    m_pRing = nullptr;
    if (m_pSkeleton != nullptr)
        vantry_bpf__destroy(m_pSkeleton);
    m_pSkeleton = nullptr;
}

int CBpfPrograms::Fd() const {
    return ring_buffer__epoll_fd(m_pRing);
}

void CBpfPrograms::Consume() {
    ring_buffer__consume(m_pRing);
}

int CBpfPrograms::OnRecord(void* pContext, void* pData, std::size_t nSize) {
    static_cast<CBpfPrograms*>(pContext)->m_consumer(
        {static_cast<const std::uint8_t*>(pData), nSize});
    return 0;
}

int CBpfPrograms::AddPort(const CPortId& port) {
    const bpf_port_key key = KernelKey(port);
    const std::uint8_t byWatched = 1;
    CountPort(key, +1);
    if (bpf_map__update_elem(m_pSkeleton->maps.ports, &key, sizeof key, &byWatched,
                             sizeof byWatched, BPF_NOEXIST) != 0) {
        const int nError = errno;
        CountPort(key, -1);
        return nError == EEXIST ? 0 : nError;
    }
    int nError = AddDevice(key);
    if (nError == 0 && m_nPorts == 0)
        nError = -vantry_bpf__attach(m_pSkeleton);
    if (nError != 0) {
        RemoveDevice(key);
        bpf_map__delete_elem(m_pSkeleton->maps.ports, &key, sizeof key, 0);
        CountPort(key, -1);
        return nError;
    }
    m_pSkeleton->bss->watched_ports = ++m_nPorts;
    return 0;
}

void CBpfPrograms::RemovePort(const CPortId& port) {
    const bpf_port_key key = KernelKey(port);
    if (bpf_map__delete_elem(m_pSkeleton->maps.ports, &key, sizeof key, 0) != 0)
        return;
    RemoveDevice(key);
    CountPort(key, -1);
    m_pSkeleton->bss->watched_ports = --m_nPorts;
    if (m_nPorts == 0)
        vantry_bpf__detach(m_pSkeleton);
}

void CBpfPrograms::CountPort(const bpf_port_key& key, int nChange) {
    // The programs pass a port's major number, and /dev/tty's, before
    // they ask the map.
    CountMajor(key.rdev, nChange);
    CountMajor(CONTROLLING_TTY, nChange);
}

int CBpfPrograms::AddDevice(const bpf_port_key& key) {
    if (IsPtySlave(key.rdev))
        return 0;
    m_devicePorts.emplace(key.rdev, key.s_dev);
    const int nError = ShowDevice(key.rdev);
    if (nError != 0)
        RemoveDevice(key);
    return nError;
}

void CBpfPrograms::RemoveDevice(const bpf_port_key& key) {
    const auto [first, last] = m_devicePorts.equal_range(key.rdev);
    const auto it =
        std::find_if(first, last, [&](const auto& entry) { return entry.second == key.s_dev; });
    if (it == last)
        return;
    m_devicePorts.erase(it);
    ShowDevice(key.rdev);
}

int CBpfPrograms::ShowDevice(std::uint32_t dwKernelDevice) {
    // A device watched through several nodes: /dev/tty's traffic goes to
    // the first of them still watched.
    const auto it = m_devicePorts.lower_bound(dwKernelDevice);
    if (it == m_devicePorts.end() || it->first != dwKernelDevice) {
        bpf_map__delete_elem(m_pSkeleton->maps.devices, &dwKernelDevice, sizeof dwKernelDevice, 0);
        return 0;
    }
    const bpf_port_key key{it->second, dwKernelDevice};
    return bpf_map__update_elem(m_pSkeleton->maps.devices, &dwKernelDevice, sizeof dwKernelDevice,
                                &key, sizeof key, BPF_ANY) == 0
               ? 0
               : errno;
}

void CBpfPrograms::CountMajor(std::uint32_t dwKernelDevice, int nChange) {
    const std::uint32_t dwMajor = dwKernelDevice >> 20;
    const unsigned nPorts = m_portsByMajor[dwMajor] += nChange;
    const std::uint64_t qwBit = std::uint64_t(1) << (dwMajor % 64);
    auto& qwWord = m_pSkeleton->bss->port_majors[dwMajor / 64];
    if (nPorts == 0) {
        qwWord &= ~qwBit;
        m_portsByMajor.erase(dwMajor);
    } else {
        qwWord |= qwBit;
    }
}

std::uint64_t CBpfPrograms::LostCount() const {
    struct CCounters {
        std::uint32_t dwSeq;
        std::uint32_t dwPad;
        std::uint64_t qwLost;
    };
    const int nCpus = libbpf_num_possible_cpus();
    if (nCpus <= 0)
        return 0;
    std::vector<CCounters> counters(static_cast<std::size_t>(nCpus));
    const std::uint32_t dwKey = 0;
    if (bpf_map__lookup_elem(m_pSkeleton->maps.counts, &dwKey, sizeof dwKey, counters.data(),
                             counters.size() * sizeof(CCounters), 0) != 0)
        return 0;
    std::uint64_t qwLost = 0;
    for (const auto& counter : counters)
        qwLost += counter.qwLost;
    return qwLost;
}
