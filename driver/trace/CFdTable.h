// The fds of one kernel fd table that refer to a watched port. Threads and
// processes cloned with CLONE_FILES share one table, so this is held by
// shared pointer and copied where the kernel copies (fork, unshare, exec).
#pragma once

#include "../IEventSource.h"

#include <map>
#include <optional>

class CFdTable {
public:
    std::optional<CPortId> PortOf(int nFd) const {
        const auto it = m_ports.find(nFd);
        return it == m_ports.end() ? std::nullopt : std::optional<CPortId>(it->second);
    }
    bool IsPort(int nFd) const { return m_ports.count(nFd) != 0; }
    bool IsEmpty() const { return m_ports.empty(); }
    const std::map<int, CPortId>& Ports() const { return m_ports; }

    void Set(int nFd, const CPortId& port) { m_ports[nFd] = port; }
    void Close(int nFd) { m_ports.erase(nFd); }
    // dup, dup2, dup3, F_DUPFD: nNewFd now refers to whatever nOldFd does.
    void Duplicate(int nOldFd, int nNewFd);
    void CloseRange(unsigned int nFirst, unsigned int nLast);
    // The port's last attachment went away: its fds no longer interest us.
    void ForgetPort(const CPortId& port);

private:
    std::map<int, CPortId> m_ports;
};
