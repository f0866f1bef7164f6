#include "CPortList.h"

#include <algorithm>

namespace {

bool Contains(const std::vector<std::string>& names, const std::string& strName) {
    return std::ranges::find(names, strName) != names.end();
}

} // namespace

std::vector<std::string> CPortList::Update(const std::vector<std::string>& map) {
    std::vector<std::string> present;
    for (const std::string& strPort : map)
        if (!strPort.empty() && !Contains(present, strPort))
            present.push_back(strPort);

    std::vector<std::string> vanished;
    for (const std::string& strPort : m_map) {
        if (Contains(present, strPort))
            continue;
        std::erase(m_items, strPort);
        if (m_taken.contains(strPort))
            vanished.push_back(strPort);
    }
    // Every port on offer is in the map by now, so each has a rank; a new
    // one goes before the first that comes after it there.
    const auto rank = [&](const std::string& strPort) {
        return std::ranges::find(present, strPort) - present.begin();
    };
    for (const std::string& strPort : present) {
        if (Contains(m_map, strPort) || m_taken.contains(strPort) || Contains(m_items, strPort))
            continue;
        const auto it = std::ranges::find_if(
            m_items, [&](const std::string& strItem) { return rank(strItem) > rank(strPort); });
        m_items.insert(it, strPort);
    }
    m_map = std::move(present);
    return vanished;
}

void CPortList::Take(const std::string& strPort) {
    m_taken.insert(strPort);
    std::erase(m_items, strPort);
}

void CPortList::GiveBack(const std::string& strPort) {
    m_taken.erase(strPort);
    if (Contains(m_map, strPort) && !Contains(m_items, strPort))
        m_items.push_back(strPort);
}
