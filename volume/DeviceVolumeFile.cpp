#include "volume/DeviceVolumeFile.h"

#include <cstring>

#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/FatLayout.h"

namespace korvo {

CDeviceVolumeFile::CDeviceVolumeFile(std::string device, int partition)
    : device_(std::move(device)), partition_(partition) {}

bool CDeviceVolumeFile::open(std::string& reason) {
    close();
    int error = 0;
    disk_ = fat::FileBlockDevice::open(device_, false, &error);
    if (!disk_) {
        reason = "cannot read " + device_ + ": " + std::strerror(error);
        return false;
    }
    if (partition_ < 0 || partition_ > static_cast<int>(fat::kPartitionCount)) {
        reason = device_ + " has no partition " + std::to_string(partition_);
        close();
        return false;
    }
    auto extent = fat::locateFatVolume(*disk_, partition_);
    if (!extent) {
        if (partition_ != 0) {
            reason = device_ + " has no FAT volume in partition " + std::to_string(partition_);
            close();
            return false;
        }
        // Taken as a bare volume, so that identification says what is wrong with it.
        extent = fat::VolumeExtent{0, disk_->size()};
    }
    volume_.emplace(*disk_, *extent);
    return true;
}

void CDeviceVolumeFile::close() {
    volume_.reset();
    disk_.reset();
}

std::optional<std::uint32_t> CDeviceVolumeFile::bytesPerSector() {
    std::uint8_t field[2];
    if (!volume_ || !volume_->readAt(fat::boot::kBytesPerSector, field, sizeof field))
        return std::nullopt;
    return readLittleEndian16(field);
}

std::uint64_t CDeviceVolumeFile::size() {
    return volume_ ? volume_->size() : 0;
}

bool CDeviceVolumeFile::readAt(std::uint64_t offset, std::uint8_t* data, std::size_t length) {
    return volume_ && volume_->readAt(offset, data, length);
}

std::optional<std::uint32_t> CDeviceVolumeFile::firstCluster(std::string_view path) {
    if (!volume_)
        return std::nullopt;
    std::uint8_t boot[fat::boot::kSize];
    if (!volume_->readAt(0, boot, sizeof boot))
        return std::nullopt;
    const auto geometry = fat::parseBootSector(boot, sizeof boot, volume_->size());
    if (!geometry)
        return std::nullopt;
    fat::FatVolumeReader reader(*volume_, *geometry);
    const auto found = reader.lookup(path);
    if (found.outcome != fat::Lookup::found || found.isRoot)
        return std::nullopt;
    return found.item.firstCluster;
}

}  // namespace korvo
