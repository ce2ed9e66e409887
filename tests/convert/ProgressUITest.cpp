#include "convert/ProgressUI.h"

#include <gtest/gtest.h>

#include <climits>

namespace KorvoLib::Korvo {
namespace {

// Counts the refreshes and lets a test press Cancel.
class RecordingProgress : public CProgressUI {
public:
    int refreshes = 0;
    int eventRounds = 0;
    bool pressCancel = false;

protected:
    void handleEvents() override {
        ++eventRounds;
        if (pressCancel) {
            setCancelled(true);
        }
    }
    void refresh() override { ++refreshes; }
};

TEST(ProgressUI, PercentageOfAShortRangeStartsAboveZeroAndEndsAtHundred) {
    RecordingProgress progress;
    EXPECT_EQ(progress.percentage(), 1);  // the initial state: range 0 to 100, position 0
    progress.begin(0, 50);
    EXPECT_TRUE(progress.step(0));
    EXPECT_EQ(progress.percentage(), 2);
    EXPECT_TRUE(progress.step(49));
    EXPECT_EQ(progress.percentage(), 100);
}

TEST(ProgressUI, EmptyRangeShowsHundred) {
    RecordingProgress progress;
    progress.begin(7, 7);
    EXPECT_EQ(progress.percentage(), 100);
}

TEST(ProgressUI, RepaintsOnlyWhenThePercentageChanges) {
    RecordingProgress progress;
    progress.begin(0, 100000);
    for (int block = 0; block < 100000; ++block) {
        ASSERT_TRUE(progress.step(block));
    }
    EXPECT_LE(progress.refreshes, 100);
    EXPECT_EQ(progress.refreshes, progress.eventRounds);
}

TEST(ProgressUI, CancelIsAnsweredAtTheNextPercentageBoundary) {
    RecordingProgress progress;
    progress.begin(0, 1000);
    EXPECT_TRUE(progress.step(0));
    progress.pressCancel = true;
    // Within the same percent nothing is asked of the user interface.
    EXPECT_TRUE(progress.step(1));
    bool stopped = false;
    for (int block = 2; block < 1000 && !stopped; ++block) {
        stopped = !progress.step(block);
        if (stopped) {
            EXPECT_EQ(block, 9);  // (9 * 100 + 100) / 1000 = 1 %
        }
    }
    EXPECT_TRUE(stopped);
}

TEST(ProgressUI, HugeRangesDoNotOverflow) {
    RecordingProgress progress;
    progress.begin(0, INT_MAX);
    EXPECT_TRUE(progress.step(INT_MAX - 1));
    EXPECT_EQ(progress.percentage(), 100);
    progress.begin(0, INT_MAX);
    EXPECT_TRUE(progress.step(INT_MAX / 2));
    EXPECT_EQ(progress.percentage(), 50);
}

}  // namespace
}  // namespace KorvoLib::Korvo
