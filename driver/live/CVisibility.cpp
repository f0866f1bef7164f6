#include "CVisibility.h"

#include "VantryProtocol.h"

#include <algorithm>

namespace {

// Bounds what the processes of other users can make the driver remember.
constexpr std::size_t MAX_UNSEEN = 4096;

} // namespace

CVisibility::CVisibility(const CWatchedPorts& ports, CPublisher& publisher)
    : m_ports(ports), m_publisher(publisher) {}

bool CVisibility::MayTrace(uid_t owner, const std::map<int, CPortId>& fds) const {
    for (const auto& [nFd, port] : fds) {
        const auto it = m_ports.All().find(port);
        if (it != m_ports.All().end() &&
            std::any_of(
                it->second.viewers.begin(), it->second.viewers.end(),
                [&](const auto& entry) { return entry.second == 0 || entry.second == owner; }))
            return true;
    }
    return false;
}

void CVisibility::NameUnseen(const CProcessIdentity& identity, const std::map<int, CPortId>& fds) {
    // Another user's process: named once, never traced.
    if (std::find(m_unseen.begin(), m_unseen.end(), identity) != m_unseen.end())
        return;
    // The oldest makes room: at worst it is named once more.
    if (m_unseen.size() >= MAX_UNSEEN)
        m_unseen.erase(m_unseen.begin());
    m_unseen.push_back(identity);
    m_publisher.ReportOnce(identity.GetPid(), fds, Vantry::NOTICE_PROCESS_OF_OTHER_USER);
}
