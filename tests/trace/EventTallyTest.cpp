// inotify's folded opens and closes told from fanotify's counts: only once
// inotify had time to catch up, once per loss, and never for fanotify's own
// folds of one process's events.
#include "CEventTally.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t MS = 1'000'000;

TEST(EventTallyTest, FewerInotifyEventsThanFanotifyNamedAWhileAgoAreFolded) {
    CEventTally tally;
    tally.CountFanotify(CEventTally::CLOSE);
    tally.CountFanotify(CEventTally::CLOSE);
    tally.CountInotify(CEventTally::CLOSE);
    EXPECT_FALSE(tally.Check(20 * MS)); // its twin may still be on its way
    EXPECT_FALSE(tally.IsSettled());
    EXPECT_FALSE(tally.Check(25 * MS));
    EXPECT_TRUE(tally.Check(30 * MS));
    EXPECT_TRUE(tally.IsSettled());
    EXPECT_FALSE(tally.Check(40 * MS));

    // One process opening twice is one fanotify event: no loss, and
    // inotify's extra open hides none that comes later.
    tally.CountInotify(CEventTally::OPEN);
    tally.CountInotify(CEventTally::OPEN);
    tally.CountFanotify(CEventTally::OPEN);
    EXPECT_FALSE(tally.Check(50 * MS));
    EXPECT_FALSE(tally.Check(60 * MS));
    EXPECT_TRUE(tally.IsSettled());
    tally.CountFanotify(CEventTally::OPEN);
    EXPECT_FALSE(tally.Check(70 * MS));
    EXPECT_TRUE(tally.Check(80 * MS));
}

} // namespace
