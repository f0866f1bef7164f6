// The traced threads and the ptrace requests on them: resuming, letting go,
// and the fd tables and owners kept through clone and exec. Everything here
// runs on the one tracer thread (ptrace requests are only valid from the
// thread that attached).
#pragma once

#include "../IEventSource.h"
#include "CTracee.h"
#include "CVisibility.h"
#include "CWatchedPorts.h"

#include <sys/types.h>

#include <set>
#include <unordered_map>

class CTracees {
public:
    CTracees(const CWatchedPorts& ports, CVisibility& visibility);

    // By thread id.
    std::unordered_map<pid_t, CTracee>& Threads() { return m_tracees; }
    const std::unordered_map<pid_t, CTracee>& Threads() const { return m_tracees; }
    // Threads are still to be let go.
    bool IsDetaching() const { return m_nDetaching > 0; }
    // The thread whose stop is being handled (0: none): it is let go when
    // it is resumed rather than interrupted.
    void SetCurrent(pid_t nTid) { m_nCurrent = nTid; }

    // Tracees inside an open-family call.
    unsigned InOpen() const { return m_nInOpen; }
    void OpenEntered() { ++m_nInOpen; }
    void OpenLeft() { --m_nInOpen; }

    // A ptrace request whose failure is logged (a thread that died meanwhile aside).
    void Request(int nRequest, pid_t nTid, int nSignal = 0);
    // Continues the thread (or lets it go when it is to be detached).
    void Resume(CTracee& tracee, int nSignal, bool bListen = false);
    void RequestDetach(CTracee& tracee);
    // The process is wanted again: its threads' detaches are called off.
    void KeepTracing(pid_t nPid);
    void Forget(pid_t nTid);
    // Lets go of every process that no viewer may see any more.
    void DetachUnseen();
    // The port's last attachment went away: its fds no longer interest us.
    void ForgetPort(const CPortId& port);
    // Lets go of children that stopped before their parent's clone event.
    void DetachEarlyChildren();
    // A stop of a thread not known yet: a child whose clone event is to come.
    void AddEarlyChild(pid_t nTid) { m_earlyChildren.insert(nTid); }
    void ForgetEarlyChild(pid_t nTid) { m_earlyChildren.erase(nTid); }

    // A clone event: the new thread or process is traced with the fd table
    // the kernel gave it, and let go at once when it holds no port.
    void OnClone(CTracee& tracee, int nEvent);
    // An exec event: the process's thread is now its leader, its fds and
    // owner are read again. Returns the leader.
    CTracee& OnExec(CTracee& tracee);

private:
    const CWatchedPorts& m_ports;
    CVisibility& m_visibility;
    std::unordered_map<pid_t, CTracee> m_tracees;
    std::set<pid_t> m_earlyChildren; // stopped before their parent's clone event
    unsigned m_nInOpen = 0;          // tracees inside an open-family call
    unsigned m_nDetaching = 0;
    pid_t m_nCurrent = 0; // the tracee whose stop is being handled
};
