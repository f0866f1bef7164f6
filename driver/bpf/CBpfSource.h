// The eBPF event source: programs on the system-call tracepoints see every
// process's calls on the watched ports, with their bytes, without stopping
// anyone (CBpfPrograms); one thread of its own turns what they ship into
// the driver's events (CBpfRecords). It sleeps in one poll over the ring
// buffer and the commands the driver's thread hands over, and looks at the
// ring buffer on a short timer too: data does not wake it record by record.
#pragma once

#include "../IEventSource.h"
#include "CScopedFd.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CBpfPrograms;
class CBpfRecords;

class CBpfSource : public IEventSource {
public:
    // Loads and attaches the programs, or throws std::runtime_error with
    // what the kernel refused.
    explicit CBpfSource(IEventSink& sink);
    ~CBpfSource() override;
    CBpfSource(const CBpfSource&) = delete;
    CBpfSource& operator=(const CBpfSource&) = delete;

    void WatchPort(const CPortId& port, int hNode, uid_t viewer, std::uint32_t dwHandle,
                   std::function<void(int)> done) override;
    void UnwatchPort(std::uint32_t dwHandle) override;
    // Which tracepoints took the programs ("tp_btf" or "raw_tp").
    std::string Kind() const;

private:
    struct CCommand {
        bool bWatch = false;
        CPortId port;
        std::uint32_t dwHandle = 0;
        std::function<void(int)> done;
    };

    void Queue(CCommand command);
    void Main();
    void Watch(CCommand& command);
    void Unwatch(std::uint32_t dwHandle);
    // The current settings of the port's holders, to every attachment of
    // it (dwHandle 0) or to one.
    void PublishHolders(const CPortId& port, std::uint32_t dwHandle);
    void Drain();

    IEventSink& m_sink;
    std::unique_ptr<CBpfRecords> m_pRecords;
    std::unique_ptr<CBpfPrograms> m_pPrograms;
    std::mutex m_mutex;
    std::deque<CCommand> m_commands;
    bool m_bStop = false;
    CScopedFd m_hCommands;                      // eventfd: m_commands has more
    std::map<std::uint32_t, CPortId> m_handles; // only the source's thread
    std::uint64_t m_qwLost = 0;
    std::thread m_thread;
};
