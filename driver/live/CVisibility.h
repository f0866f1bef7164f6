// Who may see whom: a viewer who is not root sees only the traffic of its
// own processes. A process that no viewer of its ports may see is not
// captured; it is named in a notice once instead, so that the viewers know
// someone else uses the port.
#pragma once

#include "../IEventSource.h"
#include "CProcessIdentity.h"
#include "CPublisher.h"
#include "CWatchedPorts.h"

#include <sys/types.h>

#include <map>
#include <vector>

class CVisibility {
public:
    CVisibility(const CWatchedPorts& ports, CPublisher& publisher);

    // Whether a viewer of one of these ports may see a process of `owner`.
    bool MayTrace(uid_t owner, const std::map<int, CPortId>& fds) const;
    // Another user's process, named once on these ports.
    void NameUnseen(const CProcessIdentity& identity, const std::map<int, CPortId>& fds);
    // A viewer or a node came: whoever was left unseen may be seen now.
    void ForgetUnseen() { m_unseen.clear(); }

private:
    const CWatchedPorts& m_ports;
    CPublisher& m_publisher;
    std::vector<CProcessIdentity> m_unseen; // of users no viewer may see, reported once
};
