#include "CSignalFd.h"

#include <unistd.h>

CSignalFd::CSignalFd(std::initializer_list<int> signals) {
    sigset_t mask;
    sigemptyset(&mask);
    for (const int nSignal : signals)
        sigaddset(&mask, nSignal);
    sigprocmask(SIG_BLOCK, &mask, &m_oldMask);
    // An ignored SIGCHLD, which a parent can pass on through exec, is never
    // sent at all, not even to wait blocked: the children would end unheard.
    if (sigismember(&mask, SIGCHLD))
        signal(SIGCHLD, SIG_DFL);
    m_hFd.Reset(signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK));
}

std::optional<signalfd_siginfo> CSignalFd::Read() const {
    signalfd_siginfo info{};
    if (read(m_hFd.Get(), &info, sizeof info) != ssize_t(sizeof info))
        return std::nullopt;
    return info;
}

void CSignalFd::RestoreMask() const {
    sigprocmask(SIG_SETMASK, &m_oldMask, nullptr);
}
