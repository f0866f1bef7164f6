#include "CTraceSource.h"

#include "CDoorbell.h"
#include "CTracer.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {

// How often unattributed opens are looked at again.
constexpr int TICK_MS = 10;

void Signal(const CScopedFd& event) {
    const std::uint64_t qwOne = 1;
    [[maybe_unused]] const auto n = write(event.Get(), &qwOne, sizeof qwOne);
}

} // namespace

CTraceSource::CTraceSource(IEventSink& sink)
    : m_sink(sink), m_stop(eventfd(0, EFD_CLOEXEC)),
      m_handled(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_tick(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_stop.IsValid() || !m_handled.IsValid() || !m_tick.IsValid())
        throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    std::promise<void> started;
    auto future = started.get_future();
    m_tracer = std::thread(&CTraceSource::TracerMain, this, std::move(started));
    try {
        future.get();
    } catch (...) {
        m_tracer.join();
        throw;
    }
    m_watcher = std::thread(&CTraceSource::WatcherMain, this);
}

CTraceSource::~CTraceSource() {
    // The watcher goes first: it must never ring a doorbell that is gone
    // (its pid could belong to someone else by then).
    Signal(m_stop);
    m_watcher.join();
    Submit(ECommand::Stop);
    m_tracer.join();
}

int CTraceSource::WatchPort(const CPortId& port, int hNode, uid_t viewer) {
    return Submit(ECommand::Watch, port, hNode, viewer);
}

void CTraceSource::UnwatchPort(const CPortId& port, uid_t viewer) {
    Submit(ECommand::Unwatch, port, -1, viewer);
}

int CTraceSource::Submit(ECommand eCommand, const CPortId& port, int hNode, uid_t viewer) {
    std::future<int> result;
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back({eCommand, port, hNode, viewer, {}});
        result = m_commands.back().result.get_future();
    }
    CDoorbell::Ring(m_nDoorbell.load());
    return result.get();
}

void CTraceSource::TracerMain(std::promise<void> started) {
    std::unique_ptr<CDoorbell> pDoorbell;
    std::unique_ptr<CTracer> pTracer;
    try {
        pDoorbell = std::make_unique<CDoorbell>();
        pTracer = std::make_unique<CTracer>(m_sink, pDoorbell->Pid());
    } catch (...) {
        started.set_exception(std::current_exception());
        return;
    }
    m_nDoorbell = pDoorbell->Pid();
    m_hInotify = pTracer->InotifyFd();
    started.set_value();

    for (bool bRunning = true; bRunning;) {
        if (!pTracer->WaitOnce()) {
            // A stop's handler may have left an open unattributed: the
            // watcher must start ticking even though inotify is quiet.
            if (!m_bTick && pTracer->WantsTick()) {
                m_bTick = true;
                Signal(m_tick);
            }
            continue;
        }
        pDoorbell->Rearm();
        std::deque<CCommand> commands;
        {
            std::lock_guard lock(m_mutex);
            commands.swap(m_commands);
        }
        for (auto& command : commands) {
            switch (command.eCommand) {
            case ECommand::Watch:
                command.result.set_value(
                    pTracer->Watch(command.port, command.hNode, command.viewer));
                break;
            case ECommand::Unwatch:
                pTracer->Unwatch(command.port, command.viewer);
                command.result.set_value(0);
                break;
            case ECommand::Stop:
                pTracer->UnwatchAll();
                bRunning = false;
                command.result.set_value(0);
                break;
            }
        }
        pTracer->OnInotify();
        // A command may have left something to look at again (a refused
        // process): the watcher may be asleep without a timeout.
        if (const bool bTick = pTracer->WantsTick(); !m_bTick.exchange(bTick) && bTick)
            Signal(m_tick);
        Signal(m_handled);
    }
}

void CTraceSource::WatcherMain() {
    for (;;) {
        pollfd fds[3] = {
            {m_stop.Get(), POLLIN, 0}, {m_hInotify.load(), POLLIN, 0}, {m_tick.Get(), POLLIN, 0}};
        const int n = poll(fds, 3, m_bTick ? TICK_MS : -1);
        if (n < 0 && errno != EINTR)
            return;
        if (fds[0].revents)
            return;
        if (fds[2].revents) {
            std::uint64_t qwCount;
            [[maybe_unused]] const auto nRead = read(m_tick.Get(), &qwCount, sizeof qwCount);
            continue; // poll again, now with the tick's timeout
        }
        if (n == 0 && !m_bTick)
            continue;
        if (n == 0 || fds[1].revents) {
            CDoorbell::Ring(m_nDoorbell.load());
            // Wait until the tracer has drained inotify, or poll would
            // report the same events again at once.
            pollfd wait[2] = {{m_stop.Get(), POLLIN, 0}, {m_handled.Get(), POLLIN, 0}};
            if (poll(wait, 2, -1) > 0 && wait[0].revents)
                return;
            std::uint64_t qwCount;
            [[maybe_unused]] const auto nRead = read(m_handled.Get(), &qwCount, sizeof qwCount);
        }
    }
}
