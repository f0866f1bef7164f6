#include "CBpfSource.h"

#include "CBpfPrograms.h"
#include "CBpfRecords.h"
#include "PollEvents.h"
#include "PortSettings.h"
#include "ProcScanner.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>

namespace {

// How often the ring buffer is looked at while ports are watched: data
// records wake us only once much of it waits, which keeps the cost of a
// small write low for the application.
constexpr int LOOK_MS = 5;

} // namespace

CBpfSource::CBpfSource(IEventSink& sink)
    : m_sink(sink), m_pRecords(std::make_unique<CBpfRecords>(sink)),
      m_hCommands(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_hCommands.IsValid())
        throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    m_pPrograms = std::make_unique<CBpfPrograms>(
        [this](std::span<const std::uint8_t> record) { m_pRecords->OnRecord(record); });
    m_thread = std::thread(&CBpfSource::Main, this);
}

CBpfSource::~CBpfSource() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    eventfd_write(m_hCommands.Get(), 1);
    m_thread.join();
}

std::string CBpfSource::Kind() const {
    return m_pPrograms->Kind();
}

void CBpfSource::WatchPort(const CPortId& port, int, uid_t, std::uint32_t dwHandle,
                           std::function<void(int)> done) {
    // The programs match the port by its identity, which the driver
    // checked: the node itself is not needed.
    Queue({true, port, dwHandle, std::move(done)});
}

void CBpfSource::UnwatchPort(std::uint32_t dwHandle) {
    Queue({false, {}, dwHandle, {}});
}

void CBpfSource::Queue(CCommand command) {
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(std::move(command));
    }
    eventfd_write(m_hCommands.Get(), 1);
}

void CBpfSource::Main() {
    for (;;) {
        pollfd fds[] = {{m_hCommands.Get(), POLLIN, 0}, {m_pPrograms->Fd(), POLLIN, 0}};
        if (PollEvents(fds, std::size(fds), m_handles.empty() ? -1 : LOOK_MS) < 0)
            continue;
        Drain();
        if (!fds[0].revents)
            continue;
        eventfd_t count;
        eventfd_read(m_hCommands.Get(), &count);
        std::deque<CCommand> commands;
        {
            std::lock_guard lock(m_mutex);
            if (m_bStop)
                return;
            commands.swap(m_commands);
        }
        for (auto& command : commands) {
            if (command.bWatch)
                Watch(command);
            else
                Unwatch(command.dwHandle);
        }
    }
}

void CBpfSource::Drain() {
    m_pRecords->SyncClock();
    m_pPrograms->Consume();
    const std::uint64_t qwLost = m_pPrograms->LostCount();
    if (qwLost != m_qwLost)
        m_pRecords->OnLost();
    m_qwLost = qwLost;
}

void CBpfSource::Watch(CCommand& command) {
    bool bNewPort = true;
    for (const auto& [dwHandle, port] : m_handles)
        bNewPort = bNewPort && port != command.port;
    if (bNewPort) {
        if (const int nError = m_pPrograms->AddPort(command.port))
            return command.done(nError);
    }
    m_handles[command.dwHandle] = command.port;
    std::set<CPortId> ports;
    for (const auto& [dwHandle, port] : m_handles)
        ports.insert(port);
    m_pRecords->SetPorts(std::move(ports));
    // The port is in the programs' map before its holders are looked for:
    // a holder's settings call now is seen by one or the other. Every
    // attachment learns them; the others of the port have had them.
    PublishHolders(command.port, bNewPort ? 0 : command.dwHandle);
    command.done(0);
}

void CBpfSource::Unwatch(std::uint32_t dwHandle) {
    const auto it = m_handles.find(dwHandle);
    if (it == m_handles.end())
        return;
    const CPortId port = it->second;
    m_handles.erase(it);
    std::set<CPortId> ports;
    for (const auto& [dwOther, other] : m_handles)
        ports.insert(other);
    if (!ports.count(port)) {
        // What the programs shipped for it before goes out first.
        Drain();
        m_pPrograms->RemovePort(port);
    }
    m_pRecords->SetPorts(std::move(ports));
}

void CBpfSource::PublishHolders(const CPortId& port, std::uint32_t dwHandle) {
    // Nobody is stopped for this: the settings are read through a
    // duplicate of the holder's fd (pidfd_getfd), which the programs do
    // not report because it is ours. An attachment of another user gets
    // the notice naming the process instead.
    const pid_t nSelf = getpid();
    for (const pid_t nPid : ProcScanner::ListProcesses()) {
        if (nPid == nSelf)
            continue;
        const auto fds = ProcScanner::PortFds(nPid, {port});
        if (fds.empty())
            continue;
        const auto owner = ProcScanner::OwnerOf(nPid);
        const auto settings = PortSettings::ReadFromProcess(nPid, fds.begin()->first);
        if (owner && settings)
            m_pRecords->PublishSettings(port, nPid, *owner, *settings, RealtimeNs(), dwHandle);
    }
}
