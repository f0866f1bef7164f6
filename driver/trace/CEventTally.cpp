#include "CEventTally.h"

#include <algorithm>

namespace {

// Both queues get a close within the same kernel call; by this long after
// one was read, its twin is in the other for certain.
constexpr std::uint64_t SETTLE_NS = 10'000'000;

} // namespace

bool CEventTally::Check(std::uint64_t qwNowNs) {
    if (qwNowNs - m_qwThenNs < SETTLE_NS)
        return false;
    m_qwThenNs = qwNowNs;
    bool bFolded = false;
    if (m_now.qwInotify < m_then.qwFanotify) {
        // Counting on from equal counts: what follows is compared afresh.
        bFolded = true;
        m_now.qwInotify = m_now.qwFanotify = std::max(m_now.qwInotify, m_now.qwFanotify);
    } else if (m_now.qwFanotify < m_then.qwInotify) {
        // fanotify folded one process's own closes: inotify's count stands.
        m_now.qwFanotify = m_then.qwInotify;
    }
    m_then = m_now;
    return bFolded;
}
