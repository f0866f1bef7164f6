// Wakes the tracer thread out of waitpid. The tracer must block in waitpid
// (tracee stops arrive only there), and a signal to a thread is racy, so a
// tiny child of the tracer thread plays doorbell: any thread stops it with
// SIGSTOP, waitpid reports that stop, and the tracer restarts it with
// SIGCONT before looking at what rang. A ring while it is still stopped is
// not lost: the tracer looks at its inputs after the restart.
#pragma once

#include <sys/types.h>

class CDoorbell {
public:
    // Must run on the tracer thread: the child belongs to it and dies with it.
    CDoorbell();
    ~CDoorbell();
    CDoorbell(const CDoorbell&) = delete;
    CDoorbell& operator=(const CDoorbell&) = delete;

    pid_t Pid() const { return m_nPid; }
    // Any thread, by the pid alone (the doorbell object lives on the tracer
    // thread); a pid not set yet (0 or less) rings nothing.
    static void Ring(pid_t nDoorbell);
    // Tracer thread, after waitpid reported the stop.
    void Rearm() const;

private:
    static void Signal(pid_t nPid, int nSignal);

    pid_t m_nPid = -1;
};
