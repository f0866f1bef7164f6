// The ports that attachments watch: each port's device node, its viewers
// and the inotify and fanotify watches on the node. Any source needs this
// much: who watches what, and when a node goes away. What a source does
// with the opens and closes the watches report is its own.
#pragma once

#include "../IEventSource.h"
#include "CFanotify.h"
#include "CInotify.h"
#include "CScopedFd.h"

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>

class CWatchedPorts {
public:
    struct CWatchedPort {
        CScopedFd node;
        int nWatch = -1; // -1: the node is gone; the next Watch brings the new one
        std::map<std::uint32_t, uid_t> viewers; // attachment handle: its user
        // Opens inotify reported whose opener is not known yet.
        unsigned nUnclaimedOpens = 0;
        std::uint64_t qwFirstUnclaimedNs = 0;
        // fanotify names its openers and counts its closes: the group
        // exists and took the mark on this node.
        bool bNamedByFanotify = false;
    };

    int InotifyFd() const { return m_inotify.Fd(); }
    int FanotifyFd() const { return m_fanotify.Fd(); }
    CInotify& Inotify() { return m_inotify; }
    CFanotify& Fanotify() { return m_fanotify; }
    const CFanotify& Fanotify() const { return m_fanotify; }

    // Attachment dwHandle of `viewer` came: watches `node` when the port has
    // no node yet or its node is gone. 0 or an errno value (then nothing
    // changed). bWider: the port has a new node or a new viewer, so whoever
    // holds it may be seen now where they were not before.
    int Watch(const CPortId& port, CScopedFd node, uid_t viewer, std::uint32_t dwHandle,
              bool& bWider);
    // That attachment went: false when it was never watched. `dropped` gets
    // its port when it was the port's last, which is no longer watched.
    bool Unwatch(std::uint32_t dwHandle, std::optional<CPortId>& dropped);
    void Drop(const CPortId& port);
    // The node of a watched port went away: its watch ends.
    void NodeGone(const CPortId& port);
    // Whether a node still has a name (a removed one has none).
    static bool HasLinks(int hNode);

    // The port whose node an inotify watch is on.
    std::optional<CPortId> PortOfWatch(int nWatch) const;
    bool IsWatched(const CPortId& port) const { return m_ports.count(port) != 0; }
    bool IsEmpty() const { return m_ports.empty(); }
    std::set<CPortId> WatchedPorts() const;
    // The port's entry, made when there is none.
    CWatchedPort& Port(const CPortId& port) { return m_ports[port]; }
    std::map<CPortId, CWatchedPort>& All() { return m_ports; }
    const std::map<CPortId, CWatchedPort>& All() const { return m_ports; }
    bool HasUnclaimedOpens() const;
    // Every port's openers are named by fanotify: no walk through /proc.
    bool AllNamedByFanotify() const;

private:
    CInotify m_inotify;
    CFanotify m_fanotify;
    std::map<CPortId, CWatchedPort> m_ports;
    std::map<int, CPortId> m_watchToPort;
};
