// Whether inotify folded closes away. inotify merges an event into the one
// before it when the two are identical and the first is still unread, so a
// burst of openers can come out as fewer closes than there were (their
// opens are named by fanotify, which is not fooled so). fanotify folds only
// the events of one process, so it counts the closers apart: once inotify
// has had time to report what fanotify counted, it must have reported at
// least as many.
#pragma once

#include <cstdint>

class CEventTally {
public:
    void CountInotify() { ++m_now.qwInotify; }
    void CountFanotify(unsigned nCloses) { m_now.qwFanotify += nCloses; }
    // Both queues were just read: true when inotify reported fewer closes
    // than fanotify had counted by a look long enough before.
    bool Check(std::uint64_t qwNowNs);
    // The counts agree: no look is due for their sake.
    bool IsSettled() const { return m_now == m_then && m_now.qwInotify == m_now.qwFanotify; }
    // A queue overflowed: nothing to compare.
    void Reset() { m_then = m_now = {}; }

private:
    struct CCounts {
        std::uint64_t qwInotify = 0;
        std::uint64_t qwFanotify = 0;
        bool operator==(const CCounts&) const = default;
    };
    CCounts m_now;
    CCounts m_then; // at the last look that compared
    std::uint64_t m_qwThenNs = 0;
};
