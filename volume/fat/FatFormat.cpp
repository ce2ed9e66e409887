#include "volume/fat/FatFormat.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "volume/fat/FatFileSystem.h"

namespace korvo::fat {

namespace {

constexpr std::uint32_t kSectorBytes = 512;

struct Layout {
    std::uint32_t totalSectors = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t rootEntries = 0;
    std::uint32_t rootSectors = 0;
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t clusters = 0;
};

bool clusterCountFits(FatType type, std::uint64_t clusters) {
    switch (type) {
        case FatType::fat12:
            return clusters >= 1 && clusters < 4085;
        case FatType::fat16:
            return clusters >= 4085 && clusters < 65525;
        case FatType::fat32:
            return clusters >= 65525 && clusters < 0x0FFFFFF5;
    }
    return false;
}

std::optional<Layout> plan(FatType type, std::uint64_t volumeBytes, std::uint32_t clusterBytes) {
    if (clusterBytes < kSectorBytes || clusterBytes > 65536 ||
        (clusterBytes & (clusterBytes - 1)) != 0)
        return std::nullopt;
    const std::uint64_t sectors = volumeBytes / kSectorBytes;
    if (sectors == 0 || sectors > 0xFFFFFFFFull)
        return std::nullopt;
    Layout l;
    l.totalSectors = static_cast<std::uint32_t>(sectors);
    l.sectorsPerCluster = clusterBytes / kSectorBytes;
    l.reservedSectors = type == FatType::fat32 ? 32 : 1;
    l.rootEntries = type == FatType::fat32 ? 0 : 512;
    l.rootSectors = l.rootEntries * kDirectoryEntryBytes / kSectorBytes;
    const std::uint32_t bits = fatEntryBits(type);
    // The FAT size depends on the cluster count and the other way round: settle both.
    std::uint64_t spf = 1;
    for (int round = 0; round < 16; ++round) {
        const std::uint64_t fixed = std::uint64_t{l.reservedSectors} + 2 * spf + l.rootSectors;
        if (fixed >= sectors)
            return std::nullopt;
        const std::uint64_t clusters = (sectors - fixed) / l.sectorsPerCluster;
        const std::uint64_t need =
            ((clusters + 2) * bits / 8 + kSectorBytes - 1) / kSectorBytes + 1;
        if (need <= spf) {
            l.sectorsPerFat = static_cast<std::uint32_t>(spf);
            l.clusters = static_cast<std::uint32_t>(clusters);
            if (!clusterCountFits(type, clusters))
                return std::nullopt;
            if (type != FatType::fat32 && spf > 0xFFFF)
                return std::nullopt;
            return l;
        }
        spf = need;
    }
    return std::nullopt;
}

bool writeZeros(IBlockTarget& target, std::uint64_t offset, std::uint64_t bytes) {
    static const std::vector<std::uint8_t> zeros(65536, 0);
    while (bytes > 0) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes, zeros.size()));
        if (!target.writeAt(offset, zeros.data(), n))
            return false;
        offset += n;
        bytes -= n;
    }
    return true;
}

void putText(std::uint8_t* at, const std::string& text, std::size_t width) {
    std::memset(at, ' ', width);
    std::memcpy(at, text.data(), std::min(text.size(), width));
}

}  // namespace

std::uint64_t minimumVolumeBytes(FatType type, std::uint32_t clusterBytes) {
    const std::uint64_t clusters = type == FatType::fat12   ? 16
                                   : type == FatType::fat16 ? 4085 + 16
                                                            : 65525 + 16;
    const std::uint64_t fatBytes = (clusters + 2) * fatEntryBits(type) / 8 + 2 * kSectorBytes;
    return clusters * clusterBytes + 2 * fatBytes + 64 * 1024;
}

namespace {

// The boot sector of the planned volume.
void buildBootSector(const Layout& l, const FormatOptions& options, std::uint8_t* sector) {
    const bool fat32 = options.type == FatType::fat32;
    std::memset(sector, 0, kSectorBytes);
    sector[0] = 0xEB;
    sector[1] = fat32 ? 0x58 : 0x3C;
    sector[2] = 0x90;
    std::memcpy(sector + boot::kOemName, "KORVOWAV", 8);
    writeLittleEndian16(sector + boot::kBytesPerSector, kSectorBytes);
    sector[boot::kSectorsPerCluster] = static_cast<std::uint8_t>(l.sectorsPerCluster);
    writeLittleEndian16(sector + boot::kReservedSectors,
                        static_cast<std::uint16_t>(l.reservedSectors));
    sector[boot::kFatCount] = 2;
    writeLittleEndian16(sector + boot::kRootEntries, static_cast<std::uint16_t>(l.rootEntries));
    if (l.totalSectors < 0x10000 && !fat32) {
        writeLittleEndian16(sector + boot::kTotalSectors16,
                            static_cast<std::uint16_t>(l.totalSectors));
    } else {
        writeLittleEndian32(sector + boot::kTotalSectors32, l.totalSectors);
    }
    sector[boot::kMedia] = 0xF8;
    writeLittleEndian16(sector + boot::kSectorsPerTrack, 32);
    writeLittleEndian16(sector + boot::kHeads, 64);
    writeLittleEndian32(sector + boot::kHiddenSectors, options.hiddenSectors);
    const std::string label = options.label.empty() ? "NO NAME" : options.label;
    if (fat32) {
        writeLittleEndian32(sector + boot::kSectorsPerFat32, l.sectorsPerFat);
        writeLittleEndian32(sector + boot::kRootCluster32, 2);
        writeLittleEndian16(sector + boot::kFsInfoSector32, 1);
        writeLittleEndian16(sector + boot::kBackupBootSector32, 6);
        sector[boot::kDriveNumber32] = 0x80;
        sector[boot::kBootSignature32] = 0x29;
        writeLittleEndian32(sector + boot::kVolumeId32, options.volumeId);
        putText(sector + boot::kVolumeLabel32, label, 11);
        putText(sector + boot::kFsType32, "FAT32", 8);
    } else {
        writeLittleEndian16(sector + boot::kSectorsPerFat16,
                            static_cast<std::uint16_t>(l.sectorsPerFat));
        sector[boot::kDriveNumber16] = 0x80;
        sector[boot::kBootSignature16] = 0x29;
        writeLittleEndian32(sector + boot::kVolumeId16, options.volumeId);
        putText(sector + boot::kVolumeLabel16, label, 11);
        putText(sector + boot::kFsType16, options.type == FatType::fat12 ? "FAT12" : "FAT16", 8);
    }
    sector[boot::kSignature] = 0x55;
    sector[boot::kSignature + 1] = 0xAA;
}

// Clears the reserved area, the FATs and the root folder (the first data cluster on FAT32), and
// keeps the label in the root folder as well, where checkers look for it.
bool writeEmptyMetadata(IBlockTarget& target, const Layout& l, const FormatOptions& options) {
    const bool fat32 = options.type == FatType::fat32;
    const std::uint64_t metaSectors =
        std::uint64_t{l.reservedSectors} + 2ull * l.sectorsPerFat + l.rootSectors;
    if (!writeZeros(target, 0, metaSectors * kSectorBytes))
        return false;
    if (fat32 && !writeZeros(target, metaSectors * kSectorBytes,
                             std::uint64_t{l.sectorsPerCluster} * kSectorBytes))
        return false;
    if (options.label.empty())
        return true;
    DirectoryEntry labelEntry{};
    putText(labelEntry.name, options.label, 11);
    labelEntry.attributes = attribute::kVolumeLabel;
    stampEntry(labelEntry, false);
    const std::uint64_t rootAt =
        (std::uint64_t{l.reservedSectors} + 2ull * l.sectorsPerFat) * kSectorBytes;
    return target.writeAt(rootAt, &labelEntry, sizeof labelEntry);
}

// The reserved FAT entries 0 and 1 (and the FAT32 root folder's cluster 2) in both FAT copies.
bool writeFatStarts(IBlockTarget& target, const Layout& l, FatType type) {
    const bool fat32 = type == FatType::fat32;
    std::uint8_t fatStart[12] = {};
    const std::size_t fatLength = sizeof fatStart;
    writeFatEntry(fatStart, fatLength, type, 0, (fat32 ? 0x0FFFFF00u : 0xFFFFFF00u) | 0xF8);
    writeFatEntry(fatStart, fatLength, type, 1, endOfChainMark(type));
    if (fat32)
        writeFatEntry(fatStart, fatLength, type, 2, endOfChainMark(type));
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        const std::uint64_t at =
            (std::uint64_t{l.reservedSectors} + copy * l.sectorsPerFat) * kSectorBytes;
        if (!target.writeAt(at, fatStart, fat32 ? 12 : (type == FatType::fat12 ? 3 : 4)))
            return false;
    }
    return true;
}

// FAT32's FSInfo sector, the backup boot record, and the signatures of the three-sector records.
bool writeFat32Records(IBlockTarget& target, const Layout& l, const std::uint8_t* bootSector) {
    std::uint8_t info[kSectorBytes] = {};
    writeLittleEndian32(info + fsinfo::kLeadSignature, fsinfo::kLeadValue);
    writeLittleEndian32(info + fsinfo::kStructSignature, fsinfo::kStructValue);
    writeLittleEndian32(info + fsinfo::kFreeCount, l.clusters - 1);
    writeLittleEndian32(info + fsinfo::kNextFree, 3);
    writeLittleEndian32(info + fsinfo::kTrailSignature, fsinfo::kTrailValue);
    if (!target.writeAt(1 * kSectorBytes, info, sizeof info) ||
        !target.writeAt(7 * kSectorBytes, info, sizeof info) ||
        !target.writeAt(6 * kSectorBytes, bootSector, kSectorBytes))
        return false;
    std::uint8_t tail[kSectorBytes] = {};
    tail[boot::kSignature] = 0x55;
    tail[boot::kSignature + 1] = 0xAA;
    return target.writeAt(2 * kSectorBytes, tail, sizeof tail) &&
           target.writeAt(8 * kSectorBytes, tail, sizeof tail);
}

}  // namespace

bool formatVolume(IBlockTarget& target, const FormatOptions& options) {
    const auto layout = plan(options.type, target.size(), options.clusterBytes);
    if (!layout || !target.writable())
        return false;
    std::uint8_t sector[kSectorBytes];
    buildBootSector(*layout, options, sector);
    if (!writeEmptyMetadata(target, *layout, options) ||
        !writeFatStarts(target, *layout, options.type))
        return false;
    if (options.type == FatType::fat32 && !writeFat32Records(target, *layout, sector))
        return false;
    // The boot sector goes last: until it is there the image is not a volume at all.
    return target.writeAt(0, sector, sizeof sector) && target.flush();
}

bool formatImageFile(const std::string& path, std::uint64_t volumeBytes,
                     const FormatOptions& options) {
    auto file = CHostFile::open(path, HostOpen::create, HostFileKinds::regularOnly);
    if (!file || !file->truncate(volumeBytes) || !file->close())
        return false;
    int error = 0;
    auto device = FileBlockDevice::open(path, true, &error);
    return device && formatVolume(*device, options);
}

}  // namespace korvo::fat
