#include "volume/VolumeDevice.h"

#include <algorithm>
#include <cstring>

namespace korvo {

namespace {

// Sectors moved per call through the bounce buffer.
constexpr std::size_t kSectorsPerTransfer = 64;

std::string rootOf(char letter) {
    return std::string(1, letter) + ":\\";
}

bool validSectorSize(std::uint32_t bytes) {
    return bytes >= 512 && bytes <= 4096 && (bytes & (bytes - 1)) == 0;
}

// Reads [offset, offset + n) of a volume through `buffer`, whose size is a multiple of the
// sector size: every device call covers whole sectors.
bool readThroughSectors(IVolumeDeviceCalls& calls, IVolumeDeviceCalls::Handle volume,
                        std::uint32_t sectorBytes, std::vector<std::uint8_t>& buffer,
                        std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    while (n > 0) {
        const std::uint64_t first = offset / sectorBytes * sectorBytes;
        const std::size_t skip = static_cast<std::size_t>(offset - first);
        const std::size_t span =
            std::min(buffer.size(), (skip + n + sectorBytes - 1) / sectorBytes * sectorBytes);
        if (!calls.readSectors(volume, first, buffer.data(), span)) {
            return false;
        }
        const std::size_t part = std::min(n, span - skip);
        std::memcpy(out, buffer.data() + skip, part);
        out += part;
        offset += part;
        n -= part;
    }
    return true;
}

}  // namespace

std::vector<DriveEntry> driveList(IVolumeDeviceCalls& calls) {
    std::vector<DriveEntry> drives;
    for (const std::string& root : calls.logicalDriveRoots()) {
        const auto letter = rawVolumeLetter("\\\\.\\" + root.substr(0, 2));
        if (!letter) {
            continue;  // a mounted folder or another name without a drive letter
        }
        drives.push_back(DriveEntry{*letter, root, calls.driveType(root)});
    }
    return drives;
}

std::string rawVolumeName(char letter) {
    return "\\\\.\\" + std::string(1, letter) + ":";
}

std::optional<char> rawVolumeLetter(std::string_view path) {
    if (path.size() != 6 || (path.substr(0, 4) != "\\\\.\\" && path.substr(0, 4) != "//./") ||
        path[5] != ':') {
        return std::nullopt;
    }
    char letter = path[4];
    if (letter >= 'a' && letter <= 'z') {
        letter = static_cast<char>(letter - 'a' + 'A');
    }
    if (letter < 'A' || letter > 'Z') {
        return std::nullopt;
    }
    return letter;
}

CRawVolumeFile::CRawVolumeFile(IVolumeDeviceCalls& calls, char letter)
    : calls_(calls), letter_(letter) {}

CRawVolumeFile::~CRawVolumeFile() {
    close();
}

bool CRawVolumeFile::open(std::string& reason) {
    close();
    const std::string name = rawVolumeName(letter_);
    const auto sectorBytes = calls_.bytesPerSector(rootOf(letter_));
    if (!sectorBytes || !validSectorSize(*sectorBytes)) {
        reason = "cannot tell the sector size of " + rootOf(letter_);
        return false;
    }
    volume_ = calls_.openVolume(letter_, false);
    if (volume_ == IVolumeDeviceCalls::kNoHandle) {
        reason = "cannot open " + name + " for reading";
        return false;
    }
    sectorBytes_ = *sectorBytes;
    size_ = calls_.lengthInfo(volume_).value_or(0);
    sector_.assign(std::size_t{sectorBytes_} * kSectorsPerTransfer, 0);
    return true;
}

void CRawVolumeFile::close() {
    if (volume_ != IVolumeDeviceCalls::kNoHandle) {
        calls_.closeVolume(volume_);
        volume_ = IVolumeDeviceCalls::kNoHandle;
    }
}

std::optional<std::uint32_t> CRawVolumeFile::bytesPerSector() {
    if (volume_ == IVolumeDeviceCalls::kNoHandle) {
        return std::nullopt;
    }
    return sectorBytes_;
}

std::uint64_t CRawVolumeFile::size() {
    return size_;
}

bool CRawVolumeFile::readAt(std::uint64_t offset, std::uint8_t* data, std::size_t length) {
    if (volume_ == IVolumeDeviceCalls::kNoHandle ||
        (size_ != 0 && (offset > size_ || length > size_ - offset))) {
        return false;
    }
    return readThroughSectors(calls_, volume_, sectorBytes_, sector_, offset, data, length);
}

std::optional<std::uint32_t> CRawVolumeFile::firstCluster(std::string_view path) {
    std::string hostPath = rootOf(letter_);
    for (const char c : path) {
        hostPath += c == '/' ? '\\' : c;
    }
    const auto pointers = calls_.retrievalPointers(hostPath);
    if (!pointers || pointers->extentCount == 0 || pointers->firstLogicalCluster < 0 ||
        pointers->firstLogicalCluster > 0x0FFFFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(pointers->firstLogicalCluster + 2);
}

std::unique_ptr<CRawVolumeTarget> CRawVolumeTarget::open(IVolumeDeviceCalls& calls, char letter,
                                                         bool writable, std::string& reason) {
    const std::string name = rawVolumeName(letter);
    const auto sectorBytes = calls.bytesPerSector(rootOf(letter)).value_or(512);
    if (!validSectorSize(sectorBytes)) {
        reason = "cannot tell the sector size of " + rootOf(letter);
        return nullptr;
    }
    const auto volume = calls.openVolume(letter, writable);
    if (volume == IVolumeDeviceCalls::kNoHandle) {
        reason = "cannot open " + name;
        return nullptr;
    }
    const auto length = calls.lengthInfo(volume);
    if (!length || *length < sectorBytes) {
        calls.closeVolume(volume);
        reason = "cannot tell the length of " + name;
        return nullptr;
    }
    // Nothing is written while the host's file system still has the volume mounted.
    if (writable && (!calls.lockVolume(volume) || !calls.dismountVolume(volume))) {
        calls.closeVolume(volume);
        reason = name + " is in use: close the programs that have files open on it";
        return nullptr;
    }
    return std::unique_ptr<CRawVolumeTarget>(
        new CRawVolumeTarget(calls, volume, sectorBytes, *length, writable));
}

CRawVolumeTarget::CRawVolumeTarget(IVolumeDeviceCalls& calls, IVolumeDeviceCalls::Handle volume,
                                   std::uint32_t sectorBytes, std::uint64_t size, bool writable)
    : calls_(calls),
      volume_(volume),
      sectorBytes_(sectorBytes),
      size_(size),
      writable_(writable),
      sector_(std::size_t{sectorBytes} * kSectorsPerTransfer, 0) {}

CRawVolumeTarget::~CRawVolumeTarget() {
    // Closing the handle also ends the lock.
    calls_.closeVolume(volume_);
}

bool CRawVolumeTarget::readAt(std::uint64_t offset, void* out, std::size_t n) {
    if (offset > size_ || n > size_ - offset) {
        return false;
    }
    return readThroughSectors(calls_, volume_, sectorBytes_, sector_, offset,
                              static_cast<std::uint8_t*>(out), n);
}

bool CRawVolumeTarget::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    if (!writable_ || offset > size_ || n > size_ - offset) {
        return false;
    }
    const auto* in = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
        const std::uint64_t first = offset / sectorBytes_ * sectorBytes_;
        const std::size_t skip = static_cast<std::size_t>(offset - first);
        const std::size_t span =
            std::min(sector_.size(), (skip + n + sectorBytes_ - 1) / sectorBytes_ * sectorBytes_);
        const std::size_t part = std::min(n, span - skip);
        // Sectors only partly covered keep the bytes around the written ones.
        if ((skip != 0 || part % sectorBytes_ != 0) &&
            !calls_.readSectors(volume_, first, sector_.data(), span)) {
            return false;
        }
        std::memcpy(sector_.data() + skip, in, part);
        if (!calls_.writeSectors(volume_, first, sector_.data(), span)) {
            return false;
        }
        in += part;
        offset += part;
        n -= part;
    }
    return true;
}

}  // namespace korvo
