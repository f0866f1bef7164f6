// What the port list offers, and in which order, as the machine's ports come
// and go. A port that appears takes its place in map order among the ports
// on offer; a port whose monitor closes goes to the end, as the list has
// always done; a port that is gone is not offered, even when its monitor
// closes, until it comes back.
#pragma once

#include <set>
#include <string>
#include <vector>

class CPortList {
public:
    // The map as it is now, in its own order. Returns the monitored ports that
    // left it, so that their monitors can say so.
    std::vector<std::string> Update(const std::vector<std::string>& map);
    // A monitored port is no longer offered.
    void Take(const std::string& strPort);
    // The port of a monitor that closed: offered again at the end, if it is
    // still there.
    void GiveBack(const std::string& strPort);

    const std::vector<std::string>& Items() const { return m_items; }

private:
    std::vector<std::string> m_map;
    std::vector<std::string> m_items;
    std::set<std::string> m_taken;
};
