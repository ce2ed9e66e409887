// Stepping a volume's lock level one level at a time.

#include <gtest/gtest.h>

#include "volume/LockLevel.h"

namespace korvo {
namespace {

std::string describe(const std::optional<std::vector<LockStep>>& steps) {
    if (!steps) return "refused";
    std::string text;
    for (const auto& step : *steps) {
        if (!text.empty()) text += ' ';
        text += (step.lock ? "lock" : "unlock") + std::to_string(step.level);
    }
    return text;
}

TEST(VolumeLockLevel, GoingUpLocksEachLevelAndPassesOverZero) {
    EXPECT_EQ(describe(lockSteps(-1, 3)), "lock1 lock2 lock3");
    EXPECT_EQ(describe(lockSteps(-1, 1)), "lock1");
    EXPECT_EQ(describe(lockSteps(1, 3)), "lock2 lock3");
    EXPECT_EQ(describe(lockSteps(-1, 0)), "lock0");
}

TEST(VolumeLockLevel, GoingDownUnlocksOnceForEachLevel) {
    EXPECT_EQ(describe(lockSteps(3, -1)), "unlock2 unlock1 unlock-1");
    EXPECT_EQ(describe(lockSteps(3, 1)), "unlock2 unlock1");
    EXPECT_EQ(describe(lockSteps(0, -1)), "unlock-1");
}

TEST(VolumeLockLevel, SameLevelNeedsNothing) {
    for (int level = -1; level <= 3; ++level) EXPECT_EQ(describe(lockSteps(level, level)), "");
}

TEST(VolumeLockLevel, UnreachableLevelsAreRefused) {
    for (int target : {1, 2, 3}) EXPECT_EQ(describe(lockSteps(0, target)), "refused");
    for (int current : {1, 2, 3}) EXPECT_EQ(describe(lockSteps(current, 0)), "refused");
    EXPECT_EQ(describe(lockSteps(-2, 3)), "refused");
    EXPECT_EQ(describe(lockSteps(3, 4)), "refused");
}

}  // namespace
}  // namespace korvo
