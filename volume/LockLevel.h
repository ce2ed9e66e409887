#pragma once
// Volume lock levels of the block-device access paths. A volume is unlocked at level -1 and
// locked at levels 0 to 3; raw reads of the FAT run at level 3. Moving from one level to another
// is done one level at a time: a lock call for each level on the way up, an unlock call for each
// level on the way down. Level 0 is passed over unless it is where the move starts or ends.
//
//   auto steps = lockSteps(-1, 3);   // lock 1, lock 2, lock 3
//   auto back  = lockSteps(3, -1);   // unlock, unlock, unlock

#include <cstdint>
#include <optional>
#include <vector>

namespace korvo {

inline constexpr int kUnlocked = -1;
inline constexpr int kHighestLockLevel = 3;

struct LockStep {
    bool lock = false;  // false: unlock once
    int level = 0;      // the level a lock step takes (unlock steps name the level they reach)
};

// The calls that take a volume from `current` to `target`. Empty when they are equal; nullopt
// when the move is not allowed: from level 0 only -1 is reachable, from levels 1 to 3 not 0,
// and either level outside -1..3.
std::optional<std::vector<LockStep>> lockSteps(int current, int target);

}  // namespace korvo
