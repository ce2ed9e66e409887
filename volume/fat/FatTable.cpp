#include "volume/fat/FatTable.h"

#include <algorithm>

namespace korvo::fat {

bool FatTable::load(IBlockSource& volume, const FatGeometry& geometry) {
    geometry_ = geometry;
    // Only the sectors holding entries of the volume's clusters: a boot sector may declare a FAT
    // far larger than its clusters need, and the rest is never read or written.
    const std::uint64_t used = fatEntryByteOffset(geometry.type, geometry.clusterLimit - 1) +
                               fatEntryByteCount(geometry.type);
    const std::uint64_t sectors = (used + geometry.bytesPerSector - 1) / geometry.bytesPerSector;
    bytes_.assign(
        static_cast<std::size_t>(std::min(geometry.fatBytes(), sectors * geometry.bytesPerSector)),
        0);
    dirty_.clear();
    links_.clear();
    if (!volume.readAt(geometry.fatOffset(0), bytes_.data(), bytes_.size()))
        return false;
    freeCount_ = 0;
    for (std::uint32_t c = kFirstCluster; c < geometry_.clusterLimit; ++c) {
        if (get(c) == kFreeCluster)
            ++freeCount_;
    }
    return true;
}

std::uint32_t FatTable::get(std::uint32_t cluster) const {
    if (!geometry_.isDataCluster(cluster))
        return endOfChainMark(geometry_.type);
    return readFatEntry(bytes_.data(), bytes_.size(), geometry_.type, cluster)
        .value_or(endOfChainMark(geometry_.type));
}

bool FatTable::isFree(std::uint32_t cluster) const {
    return geometry_.isDataCluster(cluster) && get(cluster) == kFreeCluster;
}

void FatTable::set(std::uint32_t cluster, std::uint32_t value, bool link) {
    if (!geometry_.isDataCluster(cluster))
        return;
    const bool wasFree = get(cluster) == kFreeCluster;
    if (!writeFatEntry(bytes_.data(), bytes_.size(), geometry_.type, cluster, value))
        return;
    const bool isFreeNow = value == kFreeCluster;
    if (wasFree && !isFreeNow)
        --freeCount_;
    if (!wasFree && isFreeNow)
        ++freeCount_;
    markDirty(cluster, link);
}

void FatTable::markDirty(std::uint32_t cluster, bool link) {
    // A FAT12 entry may straddle two sectors; both are written.
    const std::uint64_t first = fatEntryByteOffset(geometry_.type, cluster);
    const std::uint64_t last = first + fatEntryByteCount(geometry_.type) - 1;
    for (std::uint64_t byte : {first, last}) {
        const auto sector = static_cast<std::uint32_t>(byte / geometry_.bytesPerSector);
        if (std::uint64_t{sector} * geometry_.bytesPerSector >= bytes_.size())
            continue;
        dirty_.insert(sector);
        if (link)
            links_.insert(sector);
    }
}

std::optional<FreeRun> FatTable::largestFreeRun() const {
    FreeRun best;
    FreeRun current;
    for (std::uint32_t c = kFirstCluster; c < geometry_.clusterLimit; ++c) {
        if (get(c) == kFreeCluster) {
            if (current.length == 0)
                current.start = c;
            ++current.length;
            if (current.length > best.length)
                best = current;
        } else {
            current.length = 0;
        }
    }
    if (best.length == 0)
        return std::nullopt;
    return best;
}

bool FatTable::flush(IBlockTarget& volume) {
    const std::uint32_t sectorBytes = geometry_.bytesPerSector;
    auto writeSector = [&](std::uint32_t sector) {
        for (std::uint32_t copy = 0; copy < geometry_.fatCount; ++copy) {
            if (!volume.writeAt(geometry_.fatOffset(copy) + std::uint64_t{sector} * sectorBytes,
                                bytes_.data() + std::size_t{sector} * sectorBytes, sectorBytes))
                return false;
        }
        return true;
    };
    bool wroteNew = false;
    for (std::uint32_t sector : dirty_) {
        if (links_.count(sector) != 0)
            continue;
        if (!writeSector(sector))
            return false;
        wroteNew = true;
    }
    // The new entries are durable before an existing chain is linked to them.
    if (wroteNew && !links_.empty() && !volume.flush())
        return false;
    for (std::uint32_t sector : links_) {
        if (!writeSector(sector))
            return false;
    }
    dirty_.clear();
    links_.clear();
    return true;
}

}  // namespace korvo::fat
