#pragma once
// A folder's slots in memory while the FAT file system changes them: the folder's clusters (none
// for the fixed root folder of FAT12/16), its raw 32-byte slots and what the walk found in them.
// Shared by the files that write folders and files.

#include <cstdint>
#include <vector>

#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/FatFileSystem.h"

namespace korvo::fat {

struct FatFileSystem::DirectoryImage {
    std::uint32_t directory = 0;          // 0: the root
    std::vector<std::uint32_t> clusters;  // empty for the fixed root of FAT12/16
    std::vector<std::uint8_t> bytes;
    DirectoryListing listing;

    std::uint32_t slotCount() const {
        return static_cast<std::uint32_t>(bytes.size() / kDirectoryEntryBytes);
    }
    std::uint8_t* slot(std::uint32_t index) {
        return bytes.data() + std::size_t{index} * kDirectoryEntryBytes;
    }
    const DirectoryItem* itemAt(std::uint32_t slotIndex) const {
        for (const DirectoryItem& item : listing.items)
            if (item.slot == slotIndex)
                return &item;
        return nullptr;
    }
};

}  // namespace korvo::fat
