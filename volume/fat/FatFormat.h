#pragma once
// Formatter for bare FAT volumes: writes a boot sector, FAT copies and an empty root folder
// (plus FSInfo and the backup boot sector on FAT32) for a chosen FAT type and cluster size. The
// tests make recorder-like volumes with it, and the demo disk is built on it.
//
//   fat::FormatOptions options;
//   options.type = fat::FatType::fat16;
//   options.clusterBytes = 32768;
//   bool ok = fat::formatImageFile("demo.img", 128ull << 20, options);

#include <cstdint>
#include <string>

#include "volume/fat/BlockSource.h"
#include "volume/fat/FatLayout.h"

namespace korvo::fat {

struct FormatOptions {
    FatType type = FatType::fat16;
    std::uint32_t clusterBytes = 32768;  // 512 to 65536, a power of two
    std::string label = "KORVO";         // up to 11 characters
    std::uint32_t volumeId = 0x4B525631;
    std::uint32_t hiddenSectors = 0;  // sectors before the volume on its disk
};

// Formats the whole target (512-byte sectors). False when the size does not give a cluster
// count the FAT type allows (FAT12 below 4085, FAT16 4085 to 65524, FAT32 from 65525), the
// cluster size is not allowed, or a write fails.
bool formatVolume(IBlockTarget& target, const FormatOptions& options);

// Creates (or cuts) the file to volumeBytes, sparse where the host allows, and formats it.
bool formatImageFile(const std::string& path, std::uint64_t volumeBytes,
                     const FormatOptions& options);

// Smallest and largest volume sizes in bytes the FAT type allows with that cluster size (an
// estimate that leaves room for the FAT and root folder).
std::uint64_t minimumVolumeBytes(FatType type, std::uint32_t clusterBytes);

}  // namespace korvo::fat
