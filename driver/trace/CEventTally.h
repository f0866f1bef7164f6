// Whether inotify folded opens or closes away. inotify merges an event into
// the one before it when the two are identical and the first is still
// unread, so a burst of openers can come out as fewer opens and closes than
// there were. fanotify folds only the events of one process, so it names
// each opener and closer apart: once inotify has had time to report what
// fanotify named, it must have reported at least as many.
#pragma once

#include <cstdint>

class CEventTally {
public:
    enum EKind { OPEN, CLOSE, KINDS };

    void CountInotify(EKind eKind) { ++m_now[eKind].qwInotify; }
    void CountFanotify(EKind eKind) { ++m_now[eKind].qwFanotify; }
    // Both queues were just read: true when inotify reported fewer of a
    // kind than fanotify had named by a look long enough before.
    bool Check(std::uint64_t qwNowNs);
    // The counts agree: no look is due for their sake.
    bool IsSettled() const;
    // Both queues overflowed or were lost: nothing to compare.
    void Reset();

private:
    struct CCounts {
        std::uint64_t qwInotify = 0;
        std::uint64_t qwFanotify = 0;
        bool operator==(const CCounts&) const = default;
    };
    CCounts m_now[KINDS];
    CCounts m_then[KINDS]; // at the last look that compared
    std::uint64_t m_qwThenNs = 0;
};
