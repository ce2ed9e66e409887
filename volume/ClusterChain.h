#pragma once
// The cluster chain of a file on the recorder volume: the FAT cluster numbers it occupies in
// chain order, each kept as its low 16 bits, which is how the recorder's event records address
// audio. Take completion names a new take after the first one; import stores first, last and
// count in the take's event.
//
// The chain is followed in the first FAT, one sector at a time through a sector cache, until an
// entry in the end-of-chain range (0xFF8, 0xFFF8, 0x0FFFFFF8 and above). It also ends, keeping
// the clusters found so far, at a FAT sector that cannot be read, at an entry that is not a data
// cluster of the volume, and after as many clusters as the volume has (a cyclic FAT).
//
//   CVolume volume(hostPlatform(), 0, &volumeFile, nullptr);
//   std::vector<std::uint16_t> chain;
//   if (!clusterChain(volume, "SONG0000.KRV/TAKEXXXX.KRV.TMP05", chain)) { /* status 17 */ }

#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "volume/Volume.h"
#include "volume/fat/DirectoryWalk.h"

namespace korvo {

// Walks a chain on an open, identified volume.
class CClusterChainIterator {
public:
    explicit CClusterChainIterator(CVolume& volume);

    // Starts at a first cluster (which the caller has checked is a data cluster).
    void start(std::uint32_t first);
    std::uint32_t current() const { return current_; }
    // True once the current cluster is in the end-of-chain range.
    bool atEnd() const { return current_ >= endOfChainMin_; }
    // Moves to the next cluster of the chain: the FAT entry of the current one, or the
    // end-of-chain value when its FAT sector cannot be read or the entry is no data cluster.
    void advance();
    // Why the chain ended (meaningful once atEnd()).
    fat::ChainEnd end() const { return end_; }
    // Ends the chain early (the caller found it longer than the volume allows).
    void stop(fat::ChainEnd why);

    // The FAT entry of a cluster, nullopt when its FAT sector cannot be read.
    std::optional<std::uint32_t> entryOf(std::uint32_t cluster);

private:
    // One sector of the volume from the cache, read on first use; null when unreadable.
    const std::uint8_t* sector(std::uint32_t number);

    CVolume& volume_;
    fat::FatType type_;
    std::uint32_t endOfChain_;
    std::uint32_t endOfChainMin_;
    std::uint32_t current_ = 0;
    fat::ChainEnd end_ = fat::ChainEnd::endMark;
    std::map<std::uint32_t, std::vector<std::uint8_t>> cache_;
    // The sector looked up last, so that runs of entries in one sector skip the map.
    std::uint32_t lastNumber_ = 0;
    const std::uint8_t* lastSector_ = nullptr;
};

// The whole operation on an unopened volume handle: open and identify, raise the lock level to 3
// when the volume reports itself locked at another level than 0, find the first cluster, follow
// the chain, restore the lock level, close. True when a first cluster was found; `chain` is
// cleared first and holds the chain's clusters cut to 16 bits. `end` (may be null) says how the
// chain ended.
bool clusterChain(CVolume& volume, std::string_view path, std::vector<std::uint16_t>& chain,
                  fat::ChainEnd* end = nullptr);

}  // namespace korvo
