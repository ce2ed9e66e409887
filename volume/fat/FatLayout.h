#pragma once
// Every byte layout of a FAT12/16/32 volume in one place: the boot sector and its parameter
// block, the FSInfo sector, the 32-byte directory entry, the long-name entry and the MBR
// partition entry; plus the parsed, validated geometry of a volume and the FAT entry arithmetic.
//
// All FAT fields are little-endian. They are kept as byte arrays in the structs and converted
// only through the readLittleEndian / writeLittleEndian family (wavefile/ByteOrder.h), so the
// structs can be copied straight from and to the disk on any host.
//
//   std::uint8_t sector[512];
//   source.readAt(0, sector, 512);
//   auto geometry = fat::parseBootSector(sector, 512, source.size());
//   if (!geometry) { /* not a FAT volume */ }
//   std::uint64_t fatStart = geometry->fatOffset(0);
//   auto next = fat::readFatEntry(fatBytes, fatLength, geometry->type, cluster);

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "wavefile/ByteOrder.h"

namespace korvo::fat {

// ---- boot sector ----------------------------------------------------------------------------

// Byte offsets in the volume's first sector.
namespace boot {
inline constexpr std::size_t kJump = 0;                // 3 bytes: EB xx 90 or E9 xx xx
inline constexpr std::size_t kOemName = 3;             // 8 bytes
inline constexpr std::size_t kBytesPerSector = 11;     // 16-bit
inline constexpr std::size_t kSectorsPerCluster = 13;  // 8-bit
inline constexpr std::size_t kReservedSectors = 14;    // 16-bit; the first FAT starts here
inline constexpr std::size_t kFatCount = 16;           // 8-bit
inline constexpr std::size_t kRootEntries = 17;        // 16-bit; 0 on FAT32
inline constexpr std::size_t kTotalSectors16 = 19;     // 16-bit, small form
inline constexpr std::size_t kMedia = 21;              // 8-bit
inline constexpr std::size_t kSectorsPerFat16 = 22;    // 16-bit; 0 on FAT32
inline constexpr std::size_t kSectorsPerTrack = 24;    // 16-bit
inline constexpr std::size_t kHeads = 26;              // 16-bit
inline constexpr std::size_t kHiddenSectors = 28;      // 32-bit
inline constexpr std::size_t kTotalSectors32 = 32;     // 32-bit, large form
// FAT12 / FAT16 extended parameter block
inline constexpr std::size_t kDriveNumber16 = 36;
inline constexpr std::size_t kBootSignature16 = 38;  // 0x29 when the next three are valid
inline constexpr std::size_t kVolumeId16 = 39;
inline constexpr std::size_t kVolumeLabel16 = 43;  // 11 bytes
inline constexpr std::size_t kFsType16 = 54;       // 8 bytes, "FAT12   " / "FAT16   "
// FAT32 extended parameter block
inline constexpr std::size_t kSectorsPerFat32 = 36;     // 32-bit
inline constexpr std::size_t kExtFlags32 = 40;          // 16-bit
inline constexpr std::size_t kFsVersion32 = 42;         // 16-bit
inline constexpr std::size_t kRootCluster32 = 44;       // 32-bit
inline constexpr std::size_t kFsInfoSector32 = 48;      // 16-bit
inline constexpr std::size_t kBackupBootSector32 = 50;  // 16-bit
inline constexpr std::size_t kDriveNumber32 = 64;
inline constexpr std::size_t kBootSignature32 = 66;
inline constexpr std::size_t kVolumeId32 = 67;
inline constexpr std::size_t kVolumeLabel32 = 71;  // 11 bytes
inline constexpr std::size_t kFsType32 = 82;       // 8 bytes, "FAT32   "
inline constexpr std::size_t kSignature = 510;     // 0x55 0xAA
inline constexpr std::size_t kSize = 512;          // the parameter block fits in 512 bytes
}  // namespace boot

// FSInfo sector of a FAT32 volume (free-cluster hint).
namespace fsinfo {
inline constexpr std::size_t kLeadSignature = 0;      // 0x41615252
inline constexpr std::size_t kStructSignature = 484;  // 0x61417272
inline constexpr std::size_t kFreeCount = 488;        // 0xFFFFFFFF: unknown
inline constexpr std::size_t kNextFree = 492;         // 0xFFFFFFFF: unknown
inline constexpr std::size_t kTrailSignature = 508;   // 0xAA550000
inline constexpr std::uint32_t kLeadValue = 0x41615252;
inline constexpr std::uint32_t kStructValue = 0x61417272;
inline constexpr std::uint32_t kTrailValue = 0xAA550000;
inline constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
}  // namespace fsinfo

// ---- directory entries ----------------------------------------------------------------------

namespace attribute {
inline constexpr std::uint8_t kReadOnly = 0x01;
inline constexpr std::uint8_t kHidden = 0x02;
inline constexpr std::uint8_t kSystem = 0x04;
inline constexpr std::uint8_t kVolumeLabel = 0x08;
inline constexpr std::uint8_t kDirectory = 0x10;
inline constexpr std::uint8_t kArchive = 0x20;
inline constexpr std::uint8_t kLongName = 0x0F;  // read-only | hidden | system | volume label
inline constexpr std::uint8_t kLongNameMask = 0x3F;
}  // namespace attribute

inline constexpr std::uint8_t kEntryFree = 0x00;     // first name byte: this and all later free
inline constexpr std::uint8_t kEntryDeleted = 0xE5;  // first name byte: this slot is free
inline constexpr std::uint8_t kEntryKanjiE5 = 0x05;  // stored for a real first byte of 0xE5

// One 32-byte directory slot holding an 8.3 entry.
struct DirectoryEntry {
    std::uint8_t name[11];  // 8 name + 3 extension, space padded, no dot
    std::uint8_t attributes;
    std::uint8_t caseFlags;  // bit 3: base in lower case, bit 4: extension in lower case
    std::uint8_t createTimeTenths;
    std::uint8_t createTime[2];
    std::uint8_t createDate[2];
    std::uint8_t accessDate[2];
    std::uint8_t firstClusterHigh[2];  // FAT32 only
    std::uint8_t writeTime[2];
    std::uint8_t writeDate[2];
    std::uint8_t firstClusterLow[2];
    std::uint8_t fileSize[4];

    std::uint32_t firstCluster(bool fat32) const {
        std::uint32_t low = readLittleEndian16(firstClusterLow);
        return fat32 ? (low |
                        (static_cast<std::uint32_t>(readLittleEndian16(firstClusterHigh)) << 16))
                     : low;
    }
    void setFirstCluster(std::uint32_t cluster, bool fat32) {
        writeLittleEndian16(firstClusterLow, static_cast<std::uint16_t>(cluster));
        writeLittleEndian16(firstClusterHigh,
                            fat32 ? static_cast<std::uint16_t>(cluster >> 16) : 0);
    }
    std::uint32_t size() const { return readLittleEndian32(fileSize); }
    void setSize(std::uint32_t size) { writeLittleEndian32(fileSize, size); }
    bool isLongName() const {
        return (attributes & attribute::kLongNameMask) == attribute::kLongName;
    }
    bool isDirectory() const { return (attributes & attribute::kDirectory) != 0; }
    bool isVolumeLabel() const {
        return !isLongName() && (attributes & attribute::kVolumeLabel) != 0;
    }
    bool isFree() const { return name[0] == kEntryFree || name[0] == kEntryDeleted; }
    bool isEnd() const { return name[0] == kEntryFree; }
};
static_assert(sizeof(DirectoryEntry) == 32);

// One 32-byte long-name slot: 13 UTF-16 code units of a name that is split over several slots
// stored in reverse order just before the 8.3 entry they belong to.
struct LongNameEntry {
    std::uint8_t order;       // 1-based slot number; 0x40 marks the last (first stored) slot
    std::uint8_t name1[10];   // 5 code units
    std::uint8_t attributes;  // attribute::kLongName
    std::uint8_t type;        // 0
    std::uint8_t checksum;    // of the 8.3 name it belongs to
    std::uint8_t name2[12];   // 6 code units
    std::uint8_t firstClusterLow[2];  // 0
    std::uint8_t name3[4];            // 2 code units
};
static_assert(sizeof(LongNameEntry) == 32);

inline constexpr std::uint8_t kLongNameLast = 0x40;
inline constexpr std::size_t kLongNameUnitsPerSlot = 13;
inline constexpr std::size_t kLongNameMaxSlots = 20;  // 260 code units
inline constexpr std::size_t kDirectoryEntryBytes = 32;
// A directory holds at most 65536 slots (2 MiB); walks never read further.
inline constexpr std::uint32_t kMaxDirectorySlots = 65536;

// ---- MBR partition table --------------------------------------------------------------------

inline constexpr std::size_t kPartitionTableOffset = 446;
inline constexpr std::size_t kPartitionCount = 4;

struct PartitionEntry {
    std::uint8_t status;  // 0x80 bootable, 0x00 not
    std::uint8_t chsFirst[3];
    std::uint8_t type;  // 0 empty
    std::uint8_t chsLast[3];
    std::uint8_t firstSector[4];  // LBA, 512-byte sectors
    std::uint8_t sectorCount[4];

    std::uint32_t first() const { return readLittleEndian32(firstSector); }
    std::uint32_t count() const { return readLittleEndian32(sectorCount); }
};
static_assert(sizeof(PartitionEntry) == 16);

// Partition types that hold a FAT volume: 0x01 FAT12, 0x04/0x06/0x0E FAT16, 0x0B/0x0C FAT32
// (and their hidden variants 0x11, 0x14, 0x16, 0x1B, 0x1C, 0x1E).
bool isFatPartitionType(std::uint8_t type);

// ---- geometry -------------------------------------------------------------------------------

enum class FatType { fat12, fat16, fat32 };

inline constexpr std::uint32_t kFirstCluster = 2;  // clusters 0 and 1 are not data clusters

// A validated view of the boot sector: every value below is non-zero where it must be and every
// region lies inside the volume, so arithmetic on it never divides by zero or leaves the volume.
struct FatGeometry {
    FatType type = FatType::fat16;
    std::uint32_t bytesPerSector = 0;     // 512, 1024, 2048 or 4096
    std::uint32_t sectorsPerCluster = 0;  // a power of two, 1 to 128
    std::uint32_t reservedSectors = 0;    // sector of the first FAT
    std::uint32_t fatCount = 0;           // copies of the FAT
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t rootEntries = 0;     // fixed root directory slots (FAT12/16), 0 on FAT32
    std::uint32_t rootDirSectors = 0;  // sectors of the fixed root directory (rounded up)
    std::uint32_t totalSectors = 0;
    std::uint32_t firstDataSector = 0;  // sector of cluster 2
    std::uint32_t clusterCount = 0;     // data clusters; valid numbers are 2 .. clusterLimit-1
    std::uint32_t clusterLimit = 0;     // clusterCount + 2, one past the highest cluster
    std::uint32_t rootCluster = 0;      // first cluster of the root directory (FAT32), else 0
    std::uint32_t fsInfoSector = 0;     // FAT32 FSInfo sector, 0 when none
    std::uint8_t media = 0xF8;
    // The file-system type text of the boot sector ("FAT12", "FAT16" at offset 54, "FAT32" at
    // offset 82), empty when neither place holds one. The type above comes from the layout.
    std::string declaredType;

    bool isFat32() const { return type == FatType::fat32; }
    std::uint32_t clusterBytes() const { return bytesPerSector * sectorsPerCluster; }
    std::uint64_t volumeBytes() const { return std::uint64_t{totalSectors} * bytesPerSector; }
    std::uint64_t sectorOffset(std::uint32_t sector) const {
        return std::uint64_t{sector} * bytesPerSector;
    }
    // Byte offset of FAT copy `copy` (0-based) in the volume.
    std::uint64_t fatOffset(std::uint32_t copy) const {
        return sectorOffset(reservedSectors + copy * sectorsPerFat);
    }
    std::uint64_t fatBytes() const { return std::uint64_t{sectorsPerFat} * bytesPerSector; }
    // Byte offset of the fixed root directory (FAT12/16).
    std::uint64_t rootDirOffset() const {
        return sectorOffset(reservedSectors + fatCount * sectorsPerFat);
    }
    bool isDataCluster(std::uint32_t cluster) const {
        return cluster >= kFirstCluster && cluster < clusterLimit;
    }
    // Byte offset of a data cluster; call only with isDataCluster(cluster).
    std::uint64_t clusterOffset(std::uint32_t cluster) const {
        return sectorOffset(firstDataSector) +
               std::uint64_t{cluster - kFirstCluster} * clusterBytes();
    }
};

// Parses and checks the first sector of a volume of volumeBytes bytes (0 when unknown: then the
// volume is taken to be as large as the boot sector says). Refused (nullopt): fewer than 512
// bytes, bytes per sector not 512..4096 and a power of two, sectors per cluster 0 or not a power
// of two, no reserved sector, no FAT, a FAT too small for the clusters, a root directory or data
// area outside the volume, a volume larger than volumeBytes, no data cluster, a FAT32 root
// cluster outside the volume. The FAT type follows the layout: FAT32 when the 16-bit
// sectors-per-FAT field is 0, otherwise FAT12 below 4085 clusters and FAT16 from there.
std::optional<FatGeometry> parseBootSector(const std::uint8_t* sector, std::size_t length,
                                           std::uint64_t volumeBytes);

// ---- FAT entries ----------------------------------------------------------------------------

inline constexpr std::uint32_t kFreeCluster = 0;

// Bits of one FAT entry: 12, 16 or 32 (of which the low 28 are the cluster number).
constexpr std::uint32_t fatEntryBits(FatType type) {
    return type == FatType::fat12 ? 12 : type == FatType::fat16 ? 16 : 32;
}
// The end-of-chain mark written by this system: 0xFFF, 0xFFFF, 0x0FFFFFFF.
constexpr std::uint32_t endOfChainMark(FatType type) {
    return type == FatType::fat12 ? 0xFFF : type == FatType::fat16 ? 0xFFFF : 0x0FFFFFFF;
}
// Any entry at or above this value ends a chain: 0xFF8, 0xFFF8, 0x0FFFFFF8.
constexpr std::uint32_t endOfChainMin(FatType type) {
    return type == FatType::fat12 ? 0xFF8 : type == FatType::fat16 ? 0xFFF8 : 0x0FFFFFF8;
}
constexpr std::uint32_t badClusterMark(FatType type) {
    return endOfChainMin(type) - 1;
}
constexpr bool isEndOfChain(FatType type, std::uint32_t entry) {
    return entry >= endOfChainMin(type);
}

// Byte offset of a cluster's entry from the start of a FAT: (bits x cluster) / 8. A FAT12 entry
// takes two bytes from there, which may straddle a sector boundary; FAT16 two, FAT32 four.
constexpr std::uint64_t fatEntryByteOffset(FatType type, std::uint32_t cluster) {
    return (std::uint64_t{fatEntryBits(type)} * cluster) / 8;
}
constexpr std::size_t fatEntryByteCount(FatType type) {
    return type == FatType::fat32 ? 4 : 2;
}

// The entry from the little-endian value of its fatEntryByteCount bytes: FAT12 takes the high 12
// bits for an odd cluster and the low 12 for an even one; FAT32 drops the top four bits.
constexpr std::uint32_t fatEntryFromRaw(FatType type, std::uint32_t cluster, std::uint32_t raw) {
    switch (type) {
        case FatType::fat12:
            return (cluster & 1) ? ((raw >> 4) & 0xFFF) : (raw & 0xFFF);
        case FatType::fat16:
            return raw & 0xFFFF;
        case FatType::fat32:
            return raw & 0x0FFFFFFF;
    }
    return 0;
}

// Reads the entry of a cluster from the bytes of a whole FAT copy (fat[0] is the FAT's first
// byte); nullopt when the entry lies beyond length.
std::optional<std::uint32_t> readFatEntry(const std::uint8_t* fat, std::size_t length, FatType type,
                                          std::uint32_t cluster);
// Stores an entry, keeping the neighbouring FAT12 nibble and the top four FAT32 bits; false when
// the entry lies beyond length.
bool writeFatEntry(std::uint8_t* fat, std::size_t length, FatType type, std::uint32_t cluster,
                   std::uint32_t value);

}  // namespace korvo::fat
