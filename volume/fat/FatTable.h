#pragma once
// The FAT of a mounted image, held in memory: entry reads and writes, free-cluster search and
// count, and writing changed sectors back to every FAT copy so that the copies stay equal.
//
// Changes stay in memory until flush(). Entries marked as links (an existing chain pointing to
// clusters just added) are written after all other changed sectors, with a device flush between
// the two, so an interrupted flush never leaves a chain pointing to an entry that is still free on
// the disk. Only the sectors holding entries of the volume's clusters are loaded and written.

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "volume/fat/BlockSource.h"
#include "volume/fat/FatLayout.h"

namespace korvo::fat {

struct FreeRun {
    std::uint32_t start = 0;
    std::uint32_t length = 0;
};

class FatTable {
public:
    // Reads the first FAT copy (the part with entries); false when it cannot be read.
    bool load(IBlockSource& volume, const FatGeometry& geometry);

    const std::uint8_t* bytes() const { return bytes_.data(); }
    std::size_t byteCount() const { return bytes_.size(); }

    // The entry of a data cluster (clusters outside the volume read as the end mark).
    std::uint32_t get(std::uint32_t cluster) const;
    // Sets the entry of a data cluster; link marks the entry as one that joins new clusters to
    // a chain already on the disk.
    void set(std::uint32_t cluster, std::uint32_t value, bool link = false);
    bool isFree(std::uint32_t cluster) const;

    std::uint32_t freeCount() const { return freeCount_; }
    // The longest run of free clusters (the lowest of equally long ones); nullopt when full.
    std::optional<FreeRun> largestFreeRun() const;

    bool dirty() const { return !dirty_.empty(); }
    // Writes every changed sector to every FAT copy; false (with the table still dirty) when a
    // write failed.
    bool flush(IBlockTarget& volume);

private:
    void markDirty(std::uint32_t cluster, bool link);

    FatGeometry geometry_{};
    std::vector<std::uint8_t> bytes_;
    std::uint32_t freeCount_ = 0;
    std::set<std::uint32_t> dirty_;  // FAT sector numbers (0-based within a copy)
    std::set<std::uint32_t> links_;  // of those, the sectors holding link entries
};

}  // namespace korvo::fat
