#include "CFdTable.h"

#include <limits>

void CFdTable::Duplicate(int nOldFd, int nNewFd) {
    if (nOldFd == nNewFd)
        return;
    if (const auto port = PortOf(nOldFd))
        m_ports[nNewFd] = *port;
    else
        m_ports.erase(nNewFd);
}

void CFdTable::CloseRange(unsigned int nFirst, unsigned int nLast) {
    if (nFirst > unsigned(std::numeric_limits<int>::max()))
        return;
    for (auto it = m_ports.lower_bound(int(nFirst)); it != m_ports.end();) {
        if (unsigned(it->first) > nLast)
            break;
        it = m_ports.erase(it);
    }
}

void CFdTable::ForgetPort(const CPortId& port) {
    std::erase_if(m_ports, [port](const auto& entry) { return entry.second == port; });
}
