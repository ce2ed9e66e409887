#pragma once
// Read-only walk of a FAT volume: cluster chains, directory listings and path lookup.
//
// Paths are relative to the volume root with '/' between components ("SONG0001.KRV/EVENTLS0.KRV");
// every component matches an entry's long name or its 8.3 name without regard to case. Every
// walk is bounded: a chain is never followed for more clusters than the volume has, a directory
// is read for at most 65536 slots, and the tree walk never enters a directory twice, so cyclic or
// out-of-range chains and directory loops end instead of hanging.
//
//   fat::FatVolumeReader reader(volume, geometry);       // volume: IBlockSource at the boot sector
//   auto found = reader.lookup("SONG0001.KRV/TAKE0002.KRV");
//   if (found.outcome == fat::Lookup::found) {
//       std::uint32_t first = found.item.firstCluster;
//       auto chain = reader.chain(first);                 // chain.clusters in FAT order
//   }

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "volume/fat/BlockSource.h"
#include "volume/fat/FatLayout.h"

namespace korvo::fat {

// How a chain ended.
enum class ChainEnd {
    endMark,     // a regular end-of-chain entry
    freeEntry,   // an entry of 0 inside the chain
    outOfRange,  // a cluster number outside the volume, or the bad-cluster mark
    cycle,       // longer than the volume's cluster count
    readError,   // a FAT sector could not be read
};

struct ClusterChain {
    std::vector<std::uint32_t> clusters;  // in chain order, every one a data cluster
    ChainEnd end = ChainEnd::endMark;
    bool sound() const { return end == ChainEnd::endMark; }
};

// One live entry of a directory (deleted slots, volume labels and long-name slots are not items;
// "." and ".." are).
struct DirectoryItem {
    DirectoryEntry entry{};
    std::string shortName;  // "TAKE0002.KRV" ("NAME" when no extension; lower case where
                            // the entry's case flags say so)
    std::string longName;   // from its long-name slots; empty when none or they do not match
    std::uint32_t firstCluster = 0;
    std::uint32_t size = 0;
    std::uint32_t slot = 0;       // index of the 8.3 slot in its directory
    std::uint32_t firstSlot = 0;  // index of its first long-name slot (== slot when none)

    bool isDirectory() const { return entry.isDirectory(); }
    bool isDotEntry() const { return entry.name[0] == '.'; }
    const std::string& name() const { return longName.empty() ? shortName : longName; }
    // True when the component names this entry, by long or 8.3 name, without regard to case.
    bool matches(std::string_view component) const;
};

// The parsed slots of one directory.
struct DirectoryListing {
    std::vector<DirectoryItem> items;
    std::uint32_t slotCount = 0;  // slots the directory's clusters (or fixed area) hold
    std::uint32_t endSlot = 0;    // first slot of the end marker (== slotCount when none)
};

// Parses directory bytes (a whole number of 32-byte slots; a trailing partial slot is ignored).
DirectoryListing parseDirectory(const std::uint8_t* bytes, std::size_t length, bool fat32);

// The 8.3 name of an entry as text: "NAME.EXT", "NAME" without extension; 0x05 shown as 0xE5;
// a part whose lower-case flag is set (0x08 name, 0x10 extension) in lower case.
std::string shortNameText(const DirectoryEntry& entry);

enum class Lookup { found, missing, unreadable };

struct LookupResult {
    Lookup outcome = Lookup::missing;
    DirectoryItem item;           // the entry found (for the root: a directory item)
    std::uint32_t directory = 0;  // first cluster of the folder holding it (0: fixed root)
    bool isRoot = false;          // the path named the root itself
};

class FatVolumeReader {
public:
    // volume: the volume from its boot sector on; geometry: parsed from that boot sector.
    FatVolumeReader(IBlockSource& volume, const FatGeometry& geometry);

    // Reads FAT entries from this copy of the first FAT instead of the volume (the FAT image
    // file system keeps its FAT in memory). The bytes must outlive the reader.
    void useFat(const std::uint8_t* fat, std::size_t length);

    const FatGeometry& geometry() const { return geometry_; }

    // The entry of a cluster in the first FAT; nullopt when it cannot be read.
    std::optional<std::uint32_t> nextCluster(std::uint32_t cluster);
    // The chain from a first cluster; a first cluster that is not a data cluster gives an empty
    // chain ending outOfRange (0 is an empty file: empty, endMark).
    ClusterChain chain(std::uint32_t first);

    // The root folder's first cluster as stored in entries: 0 on FAT12/16, the root cluster on
    // FAT32.
    std::uint32_t rootCluster() const { return geometry_.rootCluster; }
    // Reads and parses a folder: directory = 0 (or the FAT32 root cluster) is the root. Nullopt
    // when it cannot be read or its chain is not sound.
    std::optional<DirectoryListing> listDirectory(std::uint32_t directory);
    // The clusters of a folder (empty for the fixed root); nullopt when the chain is not sound.
    std::optional<std::vector<std::uint32_t>> directoryClusters(std::uint32_t directory);

    // Looks a path up ("" or "/" is the root). Components "." and ".." are not followed.
    LookupResult lookup(std::string_view path);

    // Visits every file and folder below the root, depth first, with its path; folders are
    // entered once at most. False when some folder could not be read.
    bool walkTree(const std::function<void(const std::string& path, const DirectoryItem&)>& visit);

private:
    bool readFatBytes(std::uint64_t offset, std::uint8_t* out, std::size_t n);

    IBlockSource& volume_;
    FatGeometry geometry_;
    const std::uint8_t* fat_ = nullptr;
    std::size_t fatLength_ = 0;
    // One cached window of the first FAT when it is read from the volume.
    std::vector<std::uint8_t> cache_;
    std::uint64_t cacheOffset_ = 0;
    bool cacheValid_ = false;
};

}  // namespace korvo::fat
