#include "fuzz/PaddedImage.h"

#include <algorithm>
#include <cstring>

#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/FatLayout.h"
#include "wavefile/ByteOrder.h"

namespace korvo::fuzz {

namespace {

// The size the first sector claims for the image, 0 when it claims none.
std::uint64_t declaredSize(const std::uint8_t* data, std::size_t size) {
    if (size < fat::boot::kSize) {
        return 0;
    }
    std::uint64_t claimed = 0;
    const std::uint64_t sectorBytes = readLittleEndian16(data + fat::boot::kBytesPerSector);
    std::uint64_t sectors = readLittleEndian16(data + fat::boot::kTotalSectors16);
    if (sectors == 0) {
        sectors = readLittleEndian32(data + fat::boot::kTotalSectors32);
    }
    claimed = sectorBytes * sectors;
    for (std::size_t i = 0; i < fat::kPartitionCount; ++i) {
        fat::PartitionEntry entry;
        std::memcpy(&entry, data + fat::kPartitionTableOffset + i * sizeof entry, sizeof entry);
        if (entry.type != 0) {
            claimed = std::max(claimed, (std::uint64_t{entry.first()} + entry.count()) * 512);
        }
    }
    return claimed;
}

}  // namespace

PaddedImage::PaddedImage(const std::uint8_t* data, std::size_t size)
    : bytes_(data, data + std::min<std::uint64_t>(size, kMostBytes)),
      size_(std::min(kMostBytes, std::max<std::uint64_t>(size, declaredSize(data, size)))) {}

bool PaddedImage::readAt(std::uint64_t offset, void* out, std::size_t n) {
    if (offset > size_ || n > size_ - offset) {
        return false;
    }
    auto* bytes = static_cast<std::uint8_t*>(out);
    const std::uint64_t stored = bytes_.size();
    const std::size_t fromStore =
        offset < stored ? static_cast<std::size_t>(std::min<std::uint64_t>(n, stored - offset)) : 0;
    if (fromStore > 0) {
        std::memcpy(bytes, bytes_.data() + offset, fromStore);
    }
    if (n > fromStore) {
        std::memset(bytes + fromStore, 0, n - fromStore);
    }
    return true;
}

bool PaddedImage::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    if (offset > size_ || n > size_ - offset) {
        return false;
    }
    if (offset + n > bytes_.size()) {
        bytes_.resize(static_cast<std::size_t>(offset + n), 0);
    }
    if (n > 0) {
        std::memcpy(bytes_.data() + offset, data, n);
    }
    return true;
}

bool ImageVolumeFile::open(std::string&) {
    auto extent = fat::locateFatVolume(image_, 0);
    if (!extent) {
        extent = fat::VolumeExtent{0, image_.size()};
    }
    window_ = std::make_unique<fat::VolumeWindow>(image_, *extent);
    return true;
}

std::optional<std::uint32_t> ImageVolumeFile::bytesPerSector() {
    std::uint8_t field[2];
    if (!window_ || !window_->readAt(fat::boot::kBytesPerSector, field, sizeof field)) {
        return std::nullopt;
    }
    return readLittleEndian16(field);
}

bool ImageVolumeFile::readAt(std::uint64_t offset, std::uint8_t* data, std::size_t length) {
    return window_ && window_->readAt(offset, data, length);
}

std::optional<std::uint32_t> ImageVolumeFile::firstCluster(std::string_view path) {
    std::uint8_t boot[fat::boot::kSize];
    if (!window_ || !window_->readAt(0, boot, sizeof boot)) {
        return std::nullopt;
    }
    const auto geometry = fat::parseBootSector(boot, sizeof boot, window_->size());
    if (!geometry) {
        return std::nullopt;
    }
    fat::FatVolumeReader reader(*window_, *geometry);
    const auto found = reader.lookup(path);
    if (found.outcome != fat::Lookup::found || found.isRoot) {
        return std::nullopt;
    }
    return found.item.firstCluster;
}

}  // namespace korvo::fuzz
