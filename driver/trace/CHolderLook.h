// Holders that got a port's fd without opening it: over a unix socket
// (SCM_RIGHTS) or with pidfd_getfd, from a traced process or not. No open
// tells of them, so the holders of every watched port are looked at again:
// a few times in quick succession after a traced process passed a port fd on (its
// receiver takes it soon), and at a low rate otherwise.
#pragma once

#include "../IEventSource.h"
#include "CSeizer.h"
#include "CWatchedPorts.h"

#include <cstdint>
#include <map>

class CHolderLook {
public:
    CHolderLook(CWatchedPorts& ports, CSeizer& seizer);

    // Every holder of the port was looked at (qwNowNs, CLOCK_MONOTONIC).
    void Looked(const CPortId& port, std::uint64_t qwNowNs);
    // A traced process handed a port fd to a socket.
    void OnFdPassed();
    // Looks at the holders when a look is due.
    void LookIfDue(std::uint64_t qwNowNs);
    // How long until the next look; -1: no port, no look.
    int TimeoutMs(std::uint64_t qwNowNs) const;

private:
    std::uint64_t DueNs() const;

    CWatchedPorts& m_ports;
    CSeizer& m_seizer;
    std::map<CPortId, std::uint64_t> m_lookedNs; // by port: its holders' last look
    std::uint64_t m_qwLastLookNs = 0;            // its end
    int m_nEagerLooks = 0;                       // quick looks left for a passed fd's receiver
};
