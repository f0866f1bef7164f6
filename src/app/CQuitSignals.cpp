#include "CQuitSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr int QUIT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the handler: a type the handler may read whenever it runs.
volatile std::sig_atomic_t g_hQuitPipe = -1;

extern "C" void OnQuitSignal(int) {
    const int nError = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t nWritten = write(g_hQuitPipe, &byte, 1);
    errno = nError;
}

} // namespace

CQuitSignals::CQuitSignals(std::function<void()> onQuit) : m_onQuit(std::move(onQuit)) {
    int hPipe[2];
    if (pipe2(hPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_hRead.Reset(hPipe[0]);
    m_hWrite.Reset(hPipe[1]);
    g_hQuitPipe = m_hWrite.Get();
    m_pNotifier = new QSocketNotifier(m_hRead.Get(), QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CQuitSignals::OnSignal);
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int nSignal : QUIT_SIGNALS)
        sigaction(nSignal, &action, nullptr);
}

CQuitSignals::~CQuitSignals() {
    for (const int nSignal : QUIT_SIGNALS)
        signal(nSignal, SIG_DFL);
    g_hQuitPipe = -1;
}

void CQuitSignals::OnSignal() {
    char buffer[64];
    while (read(m_hRead.Get(), buffer, sizeof buffer) > 0) {
    }
    m_bSignalled = true;
    m_onQuit();
}
