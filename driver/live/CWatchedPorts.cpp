#include "CWatchedPorts.h"

#include "DriverLog.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

int CWatchedPorts::Watch(const CPortId& port, CScopedFd node, uid_t viewer, std::uint32_t dwHandle,
                         bool& bWider) {
    const bool bNew = !m_ports.count(port);
    CWatchedPort& watched = m_ports[port];
    // Its removal may still wait in the inotify queue.
    if (watched.nWatch >= 0 && !HasLinks(watched.node.Get()))
        NodeGone(port);
    const bool bNewNode = watched.nWatch < 0;
    if (bNewNode) {
        const int nWatch = m_inotify.Add(node.Get());
        if (nWatch < 0) {
            if (bNew)
                m_ports.erase(port);
            return -nWatch;
        }
        watched.node = std::move(node);
        watched.nWatch = nWatch;
        m_watchToPort[nWatch] = port;
        watched.bNamedByFanotify = m_fanotify.Add(watched.node.Get());
        if (m_fanotify.IsActive() && !watched.bNamedByFanotify)
            Log("fanotify refused to watch a port's node", errno);
    }
    const bool bNewViewer = std::none_of(watched.viewers.begin(), watched.viewers.end(),
                                         [&](const auto& entry) { return entry.second == viewer; });
    watched.viewers[dwHandle] = viewer;
    bWider = bNewNode || bNewViewer;
    return 0;
}

bool CWatchedPorts::Unwatch(std::uint32_t dwHandle, std::optional<CPortId>& dropped) {
    for (auto it = m_ports.begin(); it != m_ports.end(); ++it) {
        if (it->second.viewers.erase(dwHandle) == 0)
            continue;
        if (it->second.viewers.empty()) {
            dropped = it->first;
            Drop(it->first);
        }
        return true;
    }
    return false;
}

void CWatchedPorts::Drop(const CPortId& port) {
    const auto it = m_ports.find(port);
    if (it == m_ports.end())
        return;
    if (it->second.nWatch >= 0) {
        m_inotify.Remove(it->second.nWatch);
        m_watchToPort.erase(it->second.nWatch);
        m_fanotify.Remove(it->second.node.Get());
    }
    m_ports.erase(it);
}

bool CWatchedPorts::HasLinks(int hNode) {
    struct stat status;
    return fstat(hNode, &status) == 0 && status.st_nlink > 0;
}

void CWatchedPorts::NodeGone(const CPortId& port) {
    auto& watched = m_ports[port];
    if (watched.nWatch < 0)
        return;
    m_inotify.Remove(watched.nWatch);
    m_watchToPort.erase(watched.nWatch);
    m_fanotify.Remove(watched.node.Get());
    watched.nWatch = -1;
    watched.node.Reset();
    Log("a watched port's device node is gone; the next attach watches its successor");
}

std::optional<CPortId> CWatchedPorts::PortOfWatch(int nWatch) const {
    const auto it = m_watchToPort.find(nWatch);
    return it == m_watchToPort.end() ? std::nullopt : std::optional<CPortId>(it->second);
}

std::set<CPortId> CWatchedPorts::WatchedPorts() const {
    std::set<CPortId> ports;
    for (const auto& [port, watched] : m_ports)
        ports.insert(port);
    return ports;
}

bool CWatchedPorts::HasUnclaimedOpens() const {
    for (const auto& [port, watched] : m_ports) {
        if (watched.nUnclaimedOpens > 0)
            return true;
    }
    return false;
}

bool CWatchedPorts::AllNamedByFanotify() const {
    return std::all_of(m_ports.begin(), m_ports.end(),
                       [](const auto& entry) { return entry.second.bNamedByFanotify; });
}
