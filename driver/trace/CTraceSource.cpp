#include "CTraceSource.h"

#include "CTracer.h"
#include "DriverLog.h"
#include "PollEvents.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <optional>
#include <stdexcept>

namespace {

// How long a stop waits for the tracees being let go to stop; the kernel
// lets go of the rest when the tracer thread ends.
constexpr std::chrono::milliseconds STOP_WAIT{100};

// The lowest real-time priority is enough to run before every ordinary
// process: the tracer only ever sleeps in its poll, so it takes the CPU
// for as long as a stop needs and no longer.
constexpr int TRACER_PRIORITY = 1;

// A late opener races its first write against the tracer's seize: woken by
// its open, the tracer must run before the opener's time slice goes on.
// A unit that forbids real-time scheduling gets the ordinary one, and
// loses more first writes.
void RaiseTracerPriority() {
    const sched_param param{.sched_priority = TRACER_PRIORITY};
    // Whatever the thread starts goes back to ordinary scheduling.
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) != 0)
        Log("the tracer keeps its ordinary priority: real-time scheduling", errno);
}

} // namespace

void CTraceSource::BlockChildSignal() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // An ignored SIGCHLD, which whoever started the driver can pass on
    // through exec, is not even sent for a tracee's stop: the tracer would
    // never hear of it, and the tracee would stay stopped.
    signal(SIGCHLD, SIG_DFL);
}

CTraceSource::CTraceSource(IEventSink& sink)
    : m_sink(sink), m_hCommands(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_hCommands.IsValid())
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
}

CTraceSource::~CTraceSource() {
    Queue({ECommand::Stop, {}, {}, 0, 0, {}});
    m_tracer.join();
}

void CTraceSource::WatchPort(const CPortId& port, int hNode, uid_t viewer, std::uint32_t dwHandle,
                             std::function<void(int)> done) {
    // The caller's node is closed when this returns.
    CScopedFd node(fcntl(hNode, F_DUPFD_CLOEXEC, 0));
    if (!node.IsValid())
        return done(errno);
    Queue({ECommand::Watch, port, std::move(node), viewer, dwHandle, std::move(done)});
}

void CTraceSource::UnwatchPort(std::uint32_t dwHandle) {
    Queue({ECommand::Unwatch, {}, {}, 0, dwHandle, {}});
}

int CTraceSource::Watch(const CPortId& port, int hNode, uid_t viewer, std::uint32_t dwHandle) {
    std::promise<int> answer;
    auto future = answer.get_future();
    WatchPort(port, hNode, viewer, dwHandle, [&](int nError) { answer.set_value(nError); });
    return future.get();
}

void CTraceSource::Queue(CCommand command) {
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(std::move(command));
    }
    eventfd_write(m_hCommands.Get(), 1);
}

void CTraceSource::TracerMain(std::promise<void> started) {
    std::unique_ptr<CTracer> pTracer;
    try {
        pTracer = std::make_unique<CTracer>(m_sink);
    } catch (...) {
        started.set_exception(std::current_exception());
        return;
    }
    started.set_value();
    RaiseTracerPriority();

    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> stopBy;
    bool bStopsWaiting = false;
    while (!stopBy || (pTracer->IsDetaching() && Clock::now() < *stopBy)) {
        pollfd fds[] = {{m_hCommands.Get(), POLLIN, 0},
                        {pTracer->SignalFd(), POLLIN, 0},
                        {pTracer->InotifyFd(), POLLIN, 0},
                        {pTracer->FanotifyFd(), POLLIN, 0}};
        int nTimeout = bStopsWaiting ? 0 : pTracer->TimeoutMs();
        if (stopBy) {
            const int nLeft = int(std::max<long>(
                0, std::chrono::ceil<std::chrono::milliseconds>(*stopBy - Clock::now()).count()));
            nTimeout = nTimeout < 0 ? nLeft : std::min(nTimeout, nLeft);
        }
        if (PollEvents(fds, std::size(fds), nTimeout) < 0)
            continue;
        if (fds[0].revents) {
            eventfd_t count;
            eventfd_read(m_hCommands.Get(), &count);
            std::deque<CCommand> commands;
            {
                std::lock_guard lock(m_mutex);
                commands.swap(m_commands);
            }
            for (auto& command : commands) {
                if (command.eCommand == ECommand::Watch)
                    command.done(pTracer->Watch(command.port, std::move(command.node),
                                                command.viewer, command.dwHandle));
                else if (command.eCommand == ECommand::Unwatch)
                    pTracer->Unwatch(command.dwHandle);
                else if (!stopBy) {
                    pTracer->UnwatchAll();
                    stopBy = Clock::now() + STOP_WAIT;
                }
            }
        }
        if (fds[1].revents || bStopsWaiting)
            bStopsWaiting = !pTracer->OnChildSignal();
        if (fds[2].revents || fds[3].revents || pTracer->TimeoutMs() == 0)
            pTracer->OnInotify();
    }
}
