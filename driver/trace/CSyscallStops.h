// A traced thread's system-call stops: what each call on a port fd means,
// decoded from its entry and exit (data, settings, opens, closes and the
// calls that can only be named), and the fd tables it changes.
#pragma once

#include "../IEventSource.h"
#include "CHolderLook.h"
#include "COpenTracker.h"
#include "CPublisher.h"
#include "CTracee.h"
#include "CTracees.h"
#include "CWatchedPorts.h"

#include <cstdint>
#include <map>

class CSyscallStops {
public:
    CSyscallStops(IEventSink& sink, CWatchedPorts& ports, CTracees& tracees, COpenTracker& opens,
                  CHolderLook& holders, CPublisher& publisher);

    void OnSyscallStop(CTracee& tracee);

private:
    void OnEntry(CTracee& tracee);
    void OnExit(CTracee& tracee, std::int64_t nResult, bool bError);
    void OnDataExit(CTracee& tracee, std::int64_t nResult, bool bRead, bool bVector);
    // A settings or control call returned: nError 0 when it succeeded.
    void OnControlExit(CTracee& tracee, int nError);
    void OnTermiosExit(CTracee& tracee, const CPortId& port, int nFd);
    // The thread moved port data with a call we cannot decode: a notice
    // names the process and the call, once per thread and call.
    void ReportUndecoded(CTracee& tracee, std::uint32_t dwCall, const std::map<int, CPortId>& fds);
    void OnOpenExit(CTracee& tracee, std::int64_t nResult);
    void PortFdRemoved(CTracee& tracee);
    // A sendmsg or sendmmsg sent nSent messages: whether one passed a port fd.
    bool PassedPortFd(const CTracee& tracee, std::int64_t nSent) const;

    IEventSink& m_sink; // how much its queues could take
    CWatchedPorts& m_ports;
    CTracees& m_tracees;
    COpenTracker& m_opens;
    CHolderLook& m_holders;
    CPublisher& m_publisher;
};
