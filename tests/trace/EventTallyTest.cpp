// inotify's folded closes told from fanotify's count: only once inotify had
// time to catch up, once per loss, and never for fanotify's own folds of
// one process's closes.
#include "CEventTally.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t MS = 1'000'000;

TEST(EventTallyTest, FewerInotifyClosesThanFanotifyCountedAWhileAgoAreFolded) {
    CEventTally tally;
    tally.CountFanotify(2);
    tally.CountInotify();
    EXPECT_FALSE(tally.Check(20 * MS)); // its twin may still be on its way
    EXPECT_FALSE(tally.IsSettled());
    EXPECT_FALSE(tally.Check(25 * MS));
    EXPECT_TRUE(tally.Check(30 * MS));
    EXPECT_TRUE(tally.IsSettled());
    EXPECT_FALSE(tally.Check(40 * MS));

    // One process closing twice is one fanotify event: no loss, and
    // inotify's extra close hides none that comes later.
    tally.CountInotify();
    tally.CountInotify();
    tally.CountFanotify(1);
    EXPECT_FALSE(tally.Check(50 * MS));
    EXPECT_FALSE(tally.Check(60 * MS));
    EXPECT_TRUE(tally.IsSettled());
    tally.CountFanotify(1);
    EXPECT_FALSE(tally.Check(70 * MS));
    EXPECT_TRUE(tally.Check(80 * MS));
}

} // namespace
