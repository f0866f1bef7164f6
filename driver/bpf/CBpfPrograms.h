// The programs of the eBPF source in the kernel: loaded and attached to the
// system-call tracepoints (the BTF-typed ones where the kernel allows them,
// the raw ones otherwise), the watched ports' map and the ring buffer they
// fill. Their code is vantry.bpf.c, built into the driver as a skeleton.
#pragma once

#include "../IEventSource.h"

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>

struct vantry_bpf;
struct bpf_port_key;
struct ring_buffer;

class CBpfPrograms {
public:
    using CConsumer = std::function<void(std::span<const std::uint8_t>)>;
    // Loads and attaches, or throws std::runtime_error saying what the
    // kernel refused. Records go to `consumer` from Consume.
    explicit CBpfPrograms(CConsumer consumer);
    ~CBpfPrograms();
    CBpfPrograms(const CBpfPrograms&) = delete;
    CBpfPrograms& operator=(const CBpfPrograms&) = delete;

    // "tp_btf" or "raw_tp": which tracepoints took the programs.
    const std::string& Kind() const { return m_strKind; }
    // Readable when the ring buffer woke us.
    int Fd() const;
    // Hands every record waiting in the ring buffer to the consumer.
    void Consume();

    // 0 or an errno value.
    int AddPort(const CPortId& port);
    void RemovePort(const CPortId& port);
    // Records the ring buffer could not take, on all CPUs together.
    std::uint64_t LostCount() const;

private:
    bool TryLoad(bool bTyped, std::string& strError);
    void Destroy();
    static int OnRecord(void* pContext, void* pData, std::size_t nSize);
    // The watched ports that are no pty slave, by device number alone, for
    // /dev/tty: 0 or an errno value.
    int AddDevice(const bpf_port_key& key);
    void RemoveDevice(const bpf_port_key& key);
    // The programs' entry for a device number: its first watched node's port.
    int ShowDevice(std::uint32_t dwKernelDevice);
    // A port's major number and /dev/tty's, for the programs.
    void CountPort(const bpf_port_key& key, int nChange);
    // Keeps the programs' set of watched major numbers.
    void CountMajor(std::uint32_t dwKernelDevice, int nChange);

    CConsumer m_consumer;
    vantry_bpf* m_pSkeleton = nullptr;
    ring_buffer* m_pRing = nullptr;
    std::string m_strKind;
    unsigned m_nPorts = 0;
    std::map<std::uint32_t, unsigned> m_portsByMajor;
    // Device number of a port that is no pty slave: its nodes' file
    // systems, the first watched first.
    std::multimap<std::uint32_t, std::uint32_t> m_devicePorts;
};
