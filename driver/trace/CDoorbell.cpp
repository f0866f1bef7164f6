#include "CDoorbell.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

CDoorbell::CDoorbell() {
    const pid_t nParent = getpid();
    m_nPid = fork();
    if (m_nPid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (m_nPid == 0) {
        // Only async-signal-safe calls here: the parent has other threads.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != nParent)
            _exit(0);
        for (;;)
            pause();
    }
}

CDoorbell::~CDoorbell() {
    Signal(m_nPid, SIGKILL);
    int nStatus;
    while (waitpid(m_nPid, &nStatus, __WALL) < 0 && errno == EINTR) {
    }
}

void CDoorbell::Signal(pid_t nPid, int nSignal) {
    // 0 and -1 would reach our process group or every process there is.
    if (nPid > 0)
        kill(nPid, nSignal);
}

void CDoorbell::Ring(pid_t nDoorbell) {
    Signal(nDoorbell, SIGSTOP);
}

void CDoorbell::Rearm() const {
    Signal(m_nPid, SIGCONT);
}
