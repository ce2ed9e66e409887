#include "volume/ClusterChain.h"

#include "volume/LockLevel.h"

namespace korvo {

CClusterChainIterator::CClusterChainIterator(CVolume& volume)
    : volume_(volume),
      type_(volume.geometry().type),
      endOfChain_(fat::endOfChainMark(type_)),
      endOfChainMin_(fat::endOfChainMin(type_)) {}

void CClusterChainIterator::start(std::uint32_t first) {
    current_ = first;
    end_ = fat::ChainEnd::endMark;
}

void CClusterChainIterator::stop(fat::ChainEnd why) {
    current_ = endOfChain_;
    end_ = why;
}

const std::uint8_t* CClusterChainIterator::sector(std::uint32_t number) {
    if (lastSector_ && lastNumber_ == number)
        return lastSector_;
    auto found = cache_.find(number);
    if (found == cache_.end()) {
        std::vector<std::uint8_t> bytes(volume_.geometry().bytesPerSector);
        if (!volume_.readSector(number, bytes.data()))
            return nullptr;
        found = cache_.emplace(number, std::move(bytes)).first;
    }
    lastNumber_ = number;
    lastSector_ = found->second.data();
    return lastSector_;
}

std::optional<std::uint32_t> CClusterChainIterator::entryOf(std::uint32_t cluster) {
    const auto& geometry = volume_.geometry();
    const std::uint64_t offset = fat::fatEntryByteOffset(type_, cluster);
    const std::uint64_t sectorNumber = geometry.reservedSectors + offset / geometry.bytesPerSector;
    const std::uint32_t position = static_cast<std::uint32_t>(offset % geometry.bytesPerSector);
    if (sectorNumber > UINT32_MAX)
        return std::nullopt;

    const std::uint8_t* bytes = sector(static_cast<std::uint32_t>(sectorNumber));
    if (!bytes)
        return std::nullopt;
    std::uint32_t raw = 0;
    if (type_ == fat::FatType::fat32) {
        raw = readLittleEndian32(bytes + position);
    } else if (position + 1 < geometry.bytesPerSector) {
        raw = readLittleEndian16(bytes + position);
    } else {
        // A FAT12 entry whose two bytes straddle two sectors: low byte here, high byte first in
        // the next sector.
        const std::uint8_t low = bytes[position];
        const std::uint8_t* next = sector(static_cast<std::uint32_t>(sectorNumber + 1));
        if (!next)
            return std::nullopt;
        raw = low | (std::uint32_t{next[0]} << 8);
    }
    return fat::fatEntryFromRaw(type_, cluster, raw);
}

void CClusterChainIterator::advance() {
    if (atEnd())
        return;
    const auto entry = entryOf(current_);
    if (!entry)
        return stop(fat::ChainEnd::readError);
    if (*entry >= endOfChainMin_) {
        current_ = *entry;
        end_ = fat::ChainEnd::endMark;
        return;
    }
    if (*entry == fat::kFreeCluster)
        return stop(fat::ChainEnd::freeEntry);
    if (!volume_.geometry().isDataCluster(*entry))
        return stop(fat::ChainEnd::outOfRange);
    current_ = *entry;
}

bool clusterChain(CVolume& volume, std::string_view path, std::vector<std::uint16_t>& chain,
                  fat::ChainEnd* end) {
    chain.clear();
    if (end)
        *end = fat::ChainEnd::readError;
    if (!volume.open())
        return false;
    // The device is closed on every way out.
    struct Closer {
        CVolume& volume;
        ~Closer() { volume.close(); }
    } closer{volume};

    const auto kept = volume.lockState();
    if (!kept)
        return false;
    if (*kept != 0) {
        int reached = *kept;
        if (!volume.setLockLevel(*kept, kHighestLockLevel, &reached)) {
            // Leave the volume as it was found rather than locked half way.
            volume.setLockLevel(reached, *kept);
            return false;
        }
    }

    const auto first = volume.firstCluster(path);
    if (first) {
        CClusterChainIterator walk(volume);
        walk.start(*first);
        // A chain never holds more clusters than the volume; a longer one loops in the FAT.
        const std::size_t most = volume.geometry().clusterCount;
        while (!walk.atEnd()) {
            if (chain.size() >= most) {
                walk.stop(fat::ChainEnd::cycle);
                break;
            }
            chain.push_back(static_cast<std::uint16_t>(walk.current()));
            walk.advance();
        }
        if (end)
            *end = walk.end();
    }

    if (*kept != 0 && !volume.setLockLevel(kHighestLockLevel, *kept)) {
        chain.clear();
        return false;
    }
    return first.has_value();
}

}  // namespace korvo
