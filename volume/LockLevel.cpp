#include "volume/LockLevel.h"

namespace korvo {

namespace {

bool isLevel(int level) {
    return level >= kUnlocked && level <= kHighestLockLevel;
}

}  // namespace

std::optional<std::vector<LockStep>> lockSteps(int current, int target) {
    if (!isLevel(current) || !isLevel(target))
        return std::nullopt;
    std::vector<LockStep> steps;
    if (current == target)
        return steps;
    if (current == 0 && target != kUnlocked)
        return std::nullopt;
    if (current > 0 && target == 0)
        return std::nullopt;

    const bool up = target > current;
    for (int level = current + (up ? 1 : -1); up ? level <= target : level >= target;
         level += up ? 1 : -1) {
        if (level == 0 && level != target)
            continue;
        steps.push_back(LockStep{up, level});
    }
    return steps;
}

}  // namespace korvo
