#include "volume/fat/BlockSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "volume/fat/FatLayout.h"

namespace korvo::fat {

std::unique_ptr<FileBlockDevice> FileBlockDevice::open(const std::string& path, bool writable,
                                                       int* errorNumber) {
    if (errorNumber)
        *errorNumber = 0;
    int fd = -1;
    bool openedWritable = false;
    if (writable) {
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        openedWritable = fd >= 0;
        if (fd < 0 && errno != EACCES && errno != EROFS && errno != EPERM) {
            if (errorNumber)
                *errorNumber = errno;
            return nullptr;
        }
    }
    if (fd < 0)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errorNumber)
            *errorNumber = errno;
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        if (errorNumber)
            *errorNumber = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        return nullptr;
    }
    // Block devices report 0 in st_size; their length comes from seeking to the end.
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        if (errorNumber)
            *errorNumber = errno;
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FileBlockDevice>(
        new FileBlockDevice(fd, static_cast<std::uint64_t>(end), openedWritable));
}

FileBlockDevice::~FileBlockDevice() {
    ::close(fd_);
}

bool FileBlockDevice::readAt(std::uint64_t offset, void* out, std::size_t n) {
    if (offset > size_ || n > size_ - offset)
        return false;
    auto* bytes = static_cast<std::uint8_t*>(out);
    while (n > 0) {
        const ssize_t got = ::pread(fd_, bytes, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        offset += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool FileBlockDevice::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    if (!writable_ || offset > size_ || n > size_ - offset)
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
        const ssize_t put = ::pwrite(fd_, bytes, n, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes += put;
        offset += static_cast<std::uint64_t>(put);
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

bool FileBlockDevice::flush() {
    return !writable_ || ::fdatasync(fd_) == 0;
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
