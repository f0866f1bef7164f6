#include "CPaneLayout.h"

#include <algorithm>
#include <cmath>

CPaneLayout::CPaneLayout() {
    const int nUnits[] = {DEFAULT_TAB_UNITS};
    SetTabStops(nUnits, 2.0);
}

void CPaneLayout::SetAdvances(const std::array<double, 256>& advances, double dOther) {
    m_advances = advances;
    m_dOtherAdvance = dOther;
}

// One stop means a stop every that many units, as in the edit control; more
// set each stop, and the last interval repeats past the last one.
void CPaneLayout::SetTabStops(std::span<const int> dialogUnits, double dPixelsPerUnit) {
    m_stops.clear();
    for (const int nUnits : dialogUnits)
        m_stops.push_back(nUnits * dPixelsPerUnit);
    std::sort(m_stops.begin(), m_stops.end());
    if (m_stops.empty())
        m_stops.push_back(DEFAULT_TAB_UNITS * dPixelsPerUnit);
    m_dInterval =
        m_stops.size() > 1 ? m_stops.back() - m_stops[m_stops.size() - 2] : m_stops.back();
    if (m_dInterval <= 0)
        m_dInterval = DEFAULT_TAB_UNITS * dPixelsPerUnit;
    if (m_stops.size() == 1)
        m_stops.assign(1, m_dInterval);
}

double CPaneLayout::NextTab(double x) const {
    const auto it = std::upper_bound(m_stops.begin(), m_stops.end(), x);
    if (it != m_stops.end())
        return *it;
    const double dSteps = std::floor((x - m_stops.back()) / m_dInterval) + 1;
    return m_stops.back() + dSteps * m_dInterval;
}

// Walks the stops alongside the line rather than searching them per TAB: a
// data line has sixteen.
double CPaneLayout::XOf(std::u16string_view line, std::size_t nIndex) const {
    double x = 0;
    std::size_t nStop = 0;
    const std::size_t nEnd = std::min(nIndex, line.size());
    for (std::size_t i = 0; i < nEnd; ++i) {
        if (line[i] != u'\t') {
            x += Advance(line[i]);
            continue;
        }
        while (nStop < m_stops.size() && m_stops[nStop] <= x)
            ++nStop;
        x = nStop < m_stops.size() ? m_stops[nStop] : NextTab(x);
    }
    return x;
}

std::size_t CPaneLayout::IndexAt(std::u16string_view line, double x) const {
    double dLeft = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const double dRight = Step(line[i], dLeft);
        if (x < (dLeft + dRight) / 2)
            return i;
        dLeft = dRight;
    }
    return line.size();
}
