#include "volume/fat/FatLayout.h"

#include <cstring>

namespace korvo::fat {

namespace {

bool isPowerOfTwo(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

bool textAt(const std::uint8_t* sector, std::size_t offset, const char* text) {
    return std::memcmp(sector + offset, text, std::strlen(text)) == 0;
}

}  // namespace

bool isFatPartitionType(std::uint8_t type) {
    switch (type & 0xEF) {  // bit 4 marks the hidden variants
        case 0x01:
        case 0x04:
        case 0x06:
        case 0x0B:
        case 0x0C:
        case 0x0E:
            return true;
        default:
            return false;
    }
}

std::optional<FatGeometry> parseBootSector(const std::uint8_t* sector, std::size_t length,
                                           std::uint64_t volumeBytes) {
    if (sector == nullptr || length < boot::kSize)
        return std::nullopt;

    FatGeometry g;
    g.bytesPerSector = readLittleEndian16(sector + boot::kBytesPerSector);
    g.sectorsPerCluster = sector[boot::kSectorsPerCluster];
    g.reservedSectors = readLittleEndian16(sector + boot::kReservedSectors);
    g.fatCount = sector[boot::kFatCount];
    g.rootEntries = readLittleEndian16(sector + boot::kRootEntries);
    g.media = sector[boot::kMedia];
    const std::uint32_t total16 = readLittleEndian16(sector + boot::kTotalSectors16);
    const std::uint32_t total32 = readLittleEndian32(sector + boot::kTotalSectors32);
    const std::uint32_t fat16Sectors = readLittleEndian16(sector + boot::kSectorsPerFat16);

    if (g.bytesPerSector < 512 || g.bytesPerSector > 4096 || !isPowerOfTwo(g.bytesPerSector))
        return std::nullopt;
    if (!isPowerOfTwo(g.sectorsPerCluster) || g.sectorsPerCluster > 128)
        return std::nullopt;
    if (g.reservedSectors == 0 || g.fatCount == 0)
        return std::nullopt;

    const bool fat32Layout = fat16Sectors == 0;
    if (fat32Layout) {
        g.sectorsPerFat = readLittleEndian32(sector + boot::kSectorsPerFat32);
        if (g.rootEntries != 0)
            return std::nullopt;
        g.totalSectors = total32 != 0 ? total32 : total16;
    } else {
        g.sectorsPerFat = fat16Sectors;
        // Small form first on small volumes; either form is accepted when the other is 0.
        g.totalSectors = total16 != 0 ? total16 : total32;
    }
    if (g.sectorsPerFat == 0 || g.totalSectors == 0)
        return std::nullopt;

    g.rootDirSectors = static_cast<std::uint32_t>(
        (std::uint64_t{g.rootEntries} * kDirectoryEntryBytes + g.bytesPerSector - 1) /
        g.bytesPerSector);
    const std::uint64_t firstData = std::uint64_t{g.reservedSectors} +
                                    std::uint64_t{g.fatCount} * g.sectorsPerFat + g.rootDirSectors;
    if (firstData >= g.totalSectors)
        return std::nullopt;
    g.firstDataSector = static_cast<std::uint32_t>(firstData);
    if (volumeBytes != 0 && g.volumeBytes() > volumeBytes)
        return std::nullopt;

    const std::uint64_t clusters = (g.totalSectors - firstData) / g.sectorsPerCluster;
    if (clusters == 0)
        return std::nullopt;

    if (fat32Layout) {
        g.type = FatType::fat32;
    } else {
        g.type = clusters < 4085 ? FatType::fat12 : FatType::fat16;
    }
    // Entry values at or above the bad-cluster mark are not cluster numbers.
    if (clusters + kFirstCluster > badClusterMark(g.type))
        return std::nullopt;
    g.clusterCount = static_cast<std::uint32_t>(clusters);
    g.clusterLimit = g.clusterCount + kFirstCluster;

    // The FAT must have an entry for every cluster.
    const std::uint64_t entriesNeeded = std::uint64_t{g.clusterLimit};
    if (g.fatBytes() * 8 / fatEntryBits(g.type) < entriesNeeded)
        return std::nullopt;

    if (g.type == FatType::fat32) {
        g.rootCluster = readLittleEndian32(sector + boot::kRootCluster32) & 0x0FFFFFFF;
        if (!g.isDataCluster(g.rootCluster))
            return std::nullopt;
        const std::uint32_t info = readLittleEndian16(sector + boot::kFsInfoSector32);
        g.fsInfoSector = (info != 0 && info != 0xFFFF && info < g.reservedSectors) ? info : 0;
    }

    if (textAt(sector, boot::kFsType16, "FAT12"))
        g.declaredType = "FAT12";
    else if (textAt(sector, boot::kFsType16, "FAT16"))
        g.declaredType = "FAT16";
    else if (textAt(sector, boot::kFsType32, "FAT32"))
        g.declaredType = "FAT32";
    return g;
}

std::optional<std::uint32_t> readFatEntry(const std::uint8_t* fat, std::size_t length, FatType type,
                                          std::uint32_t cluster) {
    const std::uint64_t offset = fatEntryByteOffset(type, cluster);
    const std::size_t width = fatEntryByteCount(type);
    if (fat == nullptr || offset + width > length)
        return std::nullopt;
    const std::uint8_t* p = fat + offset;
    const std::uint32_t raw = width == 4 ? readLittleEndian32(p) : readLittleEndian16(p);
    return fatEntryFromRaw(type, cluster, raw);
}

bool writeFatEntry(std::uint8_t* fat, std::size_t length, FatType type, std::uint32_t cluster,
                   std::uint32_t value) {
    const std::uint64_t offset = fatEntryByteOffset(type, cluster);
    const std::size_t width = fatEntryByteCount(type);
    if (fat == nullptr || offset + width > length)
        return false;
    std::uint8_t* p = fat + offset;
    switch (type) {
        case FatType::fat12: {
            std::uint16_t raw = readLittleEndian16(p);
            if (cluster & 1) {
                raw = static_cast<std::uint16_t>((raw & 0x000F) | ((value & 0xFFF) << 4));
            } else {
                raw = static_cast<std::uint16_t>((raw & 0xF000) | (value & 0xFFF));
            }
            writeLittleEndian16(p, raw);
            return true;
        }
        case FatType::fat16:
            writeLittleEndian16(p, static_cast<std::uint16_t>(value));
            return true;
        case FatType::fat32: {
            const std::uint32_t raw = readLittleEndian32(p);
            writeLittleEndian32(p, (raw & 0xF0000000) | (value & 0x0FFFFFFF));
            return true;
        }
    }
    return false;
}

}  // namespace korvo::fat
