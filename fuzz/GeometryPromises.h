#pragma once
// What a parsed boot sector promises (FatGeometry): sizes in range and every region inside the
// volume, so that no arithmetic on it divides by zero or reaches past the volume's end. Shared by
// the FAT harnesses.

#include <cstdint>

#include "volume/fat/FatLayout.h"

namespace korvo::fuzz {

void checkGeometry(const fat::FatGeometry& geometry, std::uint64_t volumeBytes);

}  // namespace korvo::fuzz
