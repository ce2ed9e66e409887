#include "volume/fat/BlockSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "volume/VolumeDevice.h"
#include "volume/fat/FatLayout.h"

namespace korvo::fat {

std::unique_ptr<FileBlockDevice> FileBlockDevice::open(const std::string& path, bool writable,
                                                       int* errorNumber) {
    if (errorNumber)
        *errorNumber = 0;
    auto fail = [errorNumber](int error) {
        if (errorNumber)
            *errorNumber = error;
        return nullptr;
    };
    if (IVolumeDeviceCalls* calls = hostVolumeDeviceCalls()) {
        if (const auto letter = rawVolumeLetter(path)) {
            std::string reason;
            std::unique_ptr<IBlockTarget> volume =
                CRawVolumeTarget::open(*calls, *letter, writable, reason);
            if (!volume && writable)
                volume = CRawVolumeTarget::open(*calls, *letter, false, reason);
            if (!volume)
                return fail(EACCES);
            const std::uint64_t size = volume->size();
            const bool openedWritable = volume->writable();
            return std::unique_ptr<FileBlockDevice>(
                new FileBlockDevice(nullptr, std::move(volume), size, openedWritable));
        }
    }
    int error = 0;
    std::unique_ptr<CHostFile> file;
    bool openedWritable = false;
    if (writable) {
        file = CHostFile::open(path, HostOpen::readWrite, HostFileKinds::regularOrDevice, &error);
        openedWritable = file != nullptr;
        if (!file && error != EACCES && error != EROFS && error != EPERM)
            return fail(error);
    }
    if (!file)
        file = CHostFile::open(path, HostOpen::read, HostFileKinds::regularOrDevice, &error);
    if (!file)
        return fail(error);
    const auto size = file->size();
    if (!size)
        return fail(EIO);
    return std::unique_ptr<FileBlockDevice>(
        new FileBlockDevice(std::move(file), nullptr, *size, openedWritable));
}

FileBlockDevice::FileBlockDevice(std::unique_ptr<CHostFile> file,
                                 std::unique_ptr<IBlockTarget> volume, std::uint64_t size,
                                 bool writable)
    : file_(std::move(file)), volume_(std::move(volume)), size_(size), writable_(writable) {}

FileBlockDevice::~FileBlockDevice() = default;

bool FileBlockDevice::readAt(std::uint64_t offset, void* out, std::size_t n) {
    if (offset > size_ || n > size_ - offset)
        return false;
    if (volume_)
        return volume_->readAt(offset, out, n);
    return file_->readAt(offset, out, n) == static_cast<long long>(n);
}

bool FileBlockDevice::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    if (!writable_ || offset > size_ || n > size_ - offset)
        return false;
    if (volume_)
        return volume_->writeAt(offset, data, n);
    return file_->writeAt(offset, data, n);
}

bool FileBlockDevice::flush() {
    if (!writable_)
        return true;
    return volume_ ? volume_->flush() : file_->syncData();
}

namespace {

bool looksLikeBootSector(const std::uint8_t* sector, std::uint64_t length) {
    const bool jump = sector[0] == 0xE9 || (sector[0] == 0xEB && sector[2] == 0x90);
    return jump && parseBootSector(sector, boot::kSize, length).has_value();
}

}  // namespace

std::optional<VolumeExtent> locateFatVolume(IBlockSource& disk, int partition) {
    std::uint8_t sector[boot::kSize];
    if (partition < 0 || partition > static_cast<int>(kPartitionCount))
        return std::nullopt;
    if (!disk.readAt(0, sector, sizeof sector))
        return std::nullopt;
    const std::uint64_t diskBytes = disk.size();
    if (partition == 0 && looksLikeBootSector(sector, diskBytes)) {
        return VolumeExtent{0, diskBytes};
    }
    if (sector[boot::kSignature] != 0x55 || sector[boot::kSignature + 1] != 0xAA) {
        return std::nullopt;
    }
    PartitionEntry entries[kPartitionCount];
    std::memcpy(entries, sector + kPartitionTableOffset, sizeof entries);
    for (int i = 0; i < static_cast<int>(kPartitionCount); ++i) {
        if (partition != 0 && partition != i + 1)
            continue;
        const PartitionEntry& entry = entries[i];
        if (entry.type == 0 || entry.count() == 0)
            continue;
        if (partition == 0 && !isFatPartitionType(entry.type))
            continue;
        const std::uint64_t offset = std::uint64_t{entry.first()} * 512;
        if (offset >= diskBytes)
            continue;
        const std::uint64_t length =
            std::min<std::uint64_t>(std::uint64_t{entry.count()} * 512, diskBytes - offset);
        std::uint8_t volumeSector[boot::kSize];
        if (length < boot::kSize || !disk.readAt(offset, volumeSector, sizeof volumeSector))
            continue;
        if (parseBootSector(volumeSector, sizeof volumeSector, length)) {
            return VolumeExtent{offset, length};
        }
    }
    return std::nullopt;
}

VolumeWindow::VolumeWindow(IBlockSource& source, const VolumeExtent& extent)
    : source_(source), extent_(extent) {}

VolumeWindow::VolumeWindow(IBlockTarget& target, const VolumeExtent& extent)
    : source_(target), target_(&target), extent_(extent) {}

bool VolumeWindow::inside(std::uint64_t offset, std::size_t n) const {
    return offset <= extent_.length && n <= extent_.length - offset;
}

bool VolumeWindow::readAt(std::uint64_t offset, void* out, std::size_t n) {
    return inside(offset, n) && source_.readAt(extent_.offset + offset, out, n);
}

bool VolumeWindow::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    return target_ != nullptr && inside(offset, n) &&
           target_->writeAt(extent_.offset + offset, data, n);
}

bool VolumeWindow::flush() {
    return target_ == nullptr || target_->flush();
}

}  // namespace korvo::fat
