#include "CEventTally.h"

#include <algorithm>

namespace {

// Both queues get an event within the same kernel call; by this long after
// one was read, its twin is in the other for certain.
constexpr std::uint64_t SETTLE_NS = 10'000'000;

} // namespace

bool CEventTally::Check(std::uint64_t qwNowNs) {
    if (qwNowNs - m_qwThenNs < SETTLE_NS)
        return false;
    m_qwThenNs = qwNowNs;
    bool bFolded = false;
    for (int i = 0; i < KINDS; ++i) {
        CCounts& now = m_now[i];
        if (now.qwInotify < m_then[i].qwFanotify) {
            // Counting on from equal counts: what follows is compared afresh.
            bFolded = true;
            now.qwInotify = now.qwFanotify = std::max(now.qwInotify, now.qwFanotify);
        } else if (now.qwFanotify < m_then[i].qwInotify) {
            // fanotify folded one process's own events: inotify's count stands.
            now.qwFanotify = m_then[i].qwInotify;
        }
        m_then[i] = now;
    }
    return bFolded;
}

bool CEventTally::IsSettled() const {
    return std::equal(m_now, m_now + KINDS, m_then) &&
           std::all_of(m_now, m_now + KINDS,
                       [](const CCounts& counts) { return counts.qwInotify == counts.qwFanotify; });
}

void CEventTally::Reset() {
    for (int i = 0; i < KINDS; ++i)
        m_then[i] = m_now[i] = {};
}
