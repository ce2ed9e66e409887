// Writing folders: loading a folder's slots, finding or making room for a name's entries,
// growing a folder by a cluster, and the short and long entries a new name takes.

#include <algorithm>
#include <cstring>

#include "volume/fat/DirectoryImage.h"
#include "volume/fat/FatFileSystem.h"
#include "volume/fat/FatNames.h"

namespace korvo::fat {

std::optional<FatFileSystem::DirectoryImage> FatFileSystem::loadDirectory(std::uint32_t directory) {
    DirectoryImage image;
    image.directory = directory;
    if (directory == 0 && !geometry_.isFat32()) {
        image.bytes.resize(std::size_t{geometry_.rootEntries} * kDirectoryEntryBytes);
        if (!volume_.readAt(geometry_.rootDirOffset(), image.bytes.data(), image.bytes.size()))
            return std::nullopt;
    } else {
        auto clusters = reader_.directoryClusters(directory);
        if (!clusters)
            return std::nullopt;
        image.clusters = std::move(*clusters);
        const std::size_t clusterBytes = geometry_.clusterBytes();
        image.bytes.resize(image.clusters.size() * clusterBytes);
        for (std::size_t i = 0; i < image.clusters.size(); ++i) {
            if (!volume_.readAt(geometry_.clusterOffset(image.clusters[i]),
                                image.bytes.data() + i * clusterBytes, clusterBytes))
                return std::nullopt;
        }
    }
    image.listing = parseDirectory(image.bytes.data(), image.bytes.size(), geometry_.isFat32());
    return image;
}

std::uint64_t FatFileSystem::slotOffset(const DirectoryImage& image, std::uint32_t slot) const {
    const std::uint64_t byte = std::uint64_t{slot} * kDirectoryEntryBytes;
    if (image.clusters.empty())
        return geometry_.rootDirOffset() + byte;
    const std::uint32_t clusterBytes = geometry_.clusterBytes();
    return geometry_.clusterOffset(image.clusters[static_cast<std::size_t>(byte / clusterBytes)]) +
           byte % clusterBytes;
}

bool FatFileSystem::writeSlots(const DirectoryImage& image, std::uint32_t first,
                               std::uint32_t count) {
    if (!writable())
        return fail(FatError::readOnly);
    // Whole sectors, one write each, in slot order.
    const std::uint32_t perSector = geometry_.bytesPerSector / kDirectoryEntryBytes;
    const std::uint32_t firstSector = first / perSector;
    const std::uint32_t lastSector = (first + count - 1) / perSector;
    for (std::uint32_t s = firstSector; s <= lastSector; ++s) {
        const std::uint32_t slot = s * perSector;
        const std::size_t begin = std::size_t{slot} * kDirectoryEntryBytes;
        const std::size_t length =
            std::min<std::size_t>(geometry_.bytesPerSector, image.bytes.size() - begin);
        if (!noteWrite(
                volume_.writeAt(slotOffset(image, slot), image.bytes.data() + begin, length)))
            return false;
    }
    return true;
}

bool FatFileSystem::growDirectory(DirectoryImage& image) {
    if (image.clusters.empty())
        return fail(FatError::full);  // the fixed root cannot grow
    const std::size_t clusterBytes = geometry_.clusterBytes();
    if ((image.bytes.size() + clusterBytes) / kDirectoryEntryBytes > kMaxDirectorySlots)
        return fail(FatError::full);
    const std::uint32_t last = image.clusters.back();
    const auto added = allocateCluster(last);
    if (!added)
        return fail(FatError::full);
    // A new folder cluster holds only free slots: zeroed on the disk before the FAT links it.
    const std::vector<std::uint8_t> zeros(clusterBytes, 0);
    if (!writeData(geometry_.clusterOffset(*added), zeros.data(), zeros.size()))
        return false;
    fat_.set(last, *added, true);
    if (!commitFat())
        return false;
    image.clusters.push_back(*added);
    image.bytes.resize(image.bytes.size() + clusterBytes, 0);
    image.listing = parseDirectory(image.bytes.data(), image.bytes.size(), geometry_.isFat32());
    return true;
}

std::optional<std::uint32_t> FatFileSystem::findFreeSlots(DirectoryImage& image,
                                                          std::uint32_t count,
                                                          std::uint32_t ignoreFirst,
                                                          std::uint32_t ignoreEnd) {
    const std::uint32_t perSector = geometry_.bytesPerSector / kDirectoryEntryBytes;
    const std::uint32_t perCluster = geometry_.clusterBytes() / kDirectoryEntryBytes;
    // A group that fits in one sector is kept in one, so it appears in a single write.
    const std::uint32_t unit =
        count <= perSector ? perSector : (image.clusters.empty() ? 0 : perCluster);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::uint32_t slots = image.slotCount();
        const std::uint32_t end = image.listing.endSlot;
        std::uint32_t runStart = 0;
        std::uint32_t runLength = 0;
        for (std::uint32_t i = 0; i < slots; ++i) {
            const bool ignored = i >= ignoreFirst && i < ignoreEnd;
            const bool free = !ignored && (i >= end || image.slot(i)[0] == kEntryDeleted ||
                                           image.slot(i)[0] == kEntryFree);
            if (unit != 0 && i % unit == 0)
                runLength = 0;
            if (!free) {
                runLength = 0;
                continue;
            }
            if (runLength == 0)
                runStart = i;
            if (++runLength == count)
                return runStart;
        }
        if (attempt == 0 && !growDirectory(image))
            return std::nullopt;
    }
    return std::nullopt;
}

bool FatFileSystem::placeSlots(DirectoryImage& image, std::uint32_t at,
                               const std::vector<std::uint8_t>& slots) {
    const auto count = static_cast<std::uint32_t>(slots.size() / kDirectoryEntryBytes);
    const std::uint32_t perSector = geometry_.bytesPerSector / kDirectoryEntryBytes;
    const std::uint32_t end = image.listing.endSlot;
    const std::uint32_t after = at + count;
    bool prepared = false;  // slots around the group were rewritten first
    if (at > end) {
        // Readers stop at the first end marker: the free slots before the group are marked as
        // deleted instead (written first; harmless on their own).
        for (std::uint32_t i = end; i < at; ++i) {
            std::memset(image.slot(i), 0, kDirectoryEntryBytes);
            image.slot(i)[0] = kEntryDeleted;
        }
        if (!writeSlots(image, end, at - end))
            return false;
        prepared = true;
    }
    if (after > end) {
        // Slots past the end marker may hold old bytes; those sharing a sector with the group
        // are cleared, and the slot right after the group must read as the end marker.
        const std::uint32_t sectorEnd =
            std::min(((after + perSector - 1) / perSector) * perSector, image.slotCount());
        for (std::uint32_t i = std::max(end, after); i < sectorEnd; ++i)
            std::memset(image.slot(i), 0, kDirectoryEntryBytes);
        if (after == sectorEnd && after < image.slotCount() && image.slot(after)[0] != kEntryFree) {
            const std::uint32_t nextEnd = std::min(after + perSector, image.slotCount());
            for (std::uint32_t i = after; i < nextEnd; ++i)
                std::memset(image.slot(i), 0, kDirectoryEntryBytes);
            if (!writeSlots(image, after, 1))
                return false;
            prepared = true;
        }
    }
    // The group is written only once the slots around it read right on the disk.
    if (prepared && !barrier())
        return false;
    std::memcpy(image.slot(at), slots.data(), slots.size());
    if (!writeSlots(image, at, count))
        return false;
    image.listing = parseDirectory(image.bytes.data(), image.bytes.size(), geometry_.isFat32());
    return true;
}

std::optional<std::vector<std::uint8_t>> FatFileSystem::slotsForName(
    const DirectoryImage& image, std::string_view name, const DirectoryEntry& entry,
    const DirectoryItem* renaming) {
    DirectoryEntry named = entry;
    std::vector<std::uint8_t> bytes;
    if (const auto plain = plainShortName(name)) {
        std::memcpy(named.name, plain->data(), plain->size());
        named.caseFlags = 0;
    } else {
        if (!isStorableName(name))
            return std::nullopt;
        const auto generated = generateShortName(name, [&](const ShortName& candidate) {
            for (const DirectoryItem& item : image.listing.items) {
                if (renaming != nullptr && item.slot == renaming->slot)
                    continue;
                if (std::memcmp(item.entry.name, candidate.data(), candidate.size()) == 0)
                    return true;
            }
            return false;
        });
        if (!generated)
            return std::nullopt;
        std::memcpy(named.name, generated->data(), generated->size());
        named.caseFlags = 0;
        const auto longSlots = makeLongNameSlots(name, *generated);
        if (!longSlots)
            return std::nullopt;
        bytes.resize(longSlots->size() * kDirectoryEntryBytes);
        std::memcpy(bytes.data(), longSlots->data(), bytes.size());
    }
    const std::size_t at = bytes.size();
    bytes.resize(at + kDirectoryEntryBytes);
    std::memcpy(bytes.data() + at, &named, sizeof named);
    return bytes;
}

}  // namespace korvo::fat
