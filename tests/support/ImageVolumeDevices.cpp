#include "ImageVolumeDevices.h"

#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/FatLayout.h"

namespace korvo::test {

namespace {

constexpr std::uint32_t kSectorBytes = 512;

std::string rootOf(char letter) {
    return std::string(1, letter) + ":\\";
}

}  // namespace

void ImageVolumeDevices::addDrive(char letter, const std::string& image, DriveType type) {
    drives_[letter] = Drive{image, type, false};
}

int ImageVolumeDevices::openHandles() const {
    int count = 0;
    for (const auto& open : open_) {
        count += open != nullptr;
    }
    return count;
}

std::vector<std::string> ImageVolumeDevices::logicalDriveRoots() {
    std::vector<std::string> roots;
    for (const auto& [letter, drive] : drives_) {
        roots.push_back(rootOf(letter));
    }
    return roots;
}

DriveType ImageVolumeDevices::driveType(const std::string& root) {
    const auto found = root.size() == 3 ? drives_.find(root[0]) : drives_.end();
    return found == drives_.end() ? DriveType::noRoot : found->second.type;
}

std::optional<std::uint32_t> ImageVolumeDevices::bytesPerSector(const std::string& root) {
    const auto found = root.size() == 3 ? drives_.find(root[0]) : drives_.end();
    if (found == drives_.end() || found->second.image.empty()) {
        return std::nullopt;
    }
    return kSectorBytes;
}

IVolumeDeviceCalls::Handle ImageVolumeDevices::openVolume(char letter, bool writable) {
    log_.push_back(std::string("open ") + letter + (writable ? " write" : " read"));
    const auto found = drives_.find(letter);
    if (found == drives_.end() || found->second.image.empty()) {
        return kNoHandle;
    }
    auto open = std::make_unique<Open>();
    open->letter = letter;
    open->writable = writable;
    int error = 0;
    open->device = fat::FileBlockDevice::open(found->second.image, writable, &error);
    if (!open->device || (writable && !open->device->writable())) {
        return kNoHandle;
    }
    open_.push_back(std::move(open));
    return static_cast<Handle>(open_.size() - 1);
}

void ImageVolumeDevices::closeVolume(Handle volume) {
    if (handle(volume)) {
        log_.push_back("close");
        open_[static_cast<std::size_t>(volume)].reset();
    }
}

ImageVolumeDevices::Open* ImageVolumeDevices::handle(Handle volume) {
    if (volume < 0 || static_cast<std::size_t>(volume) >= open_.size()) {
        return nullptr;
    }
    return open_[static_cast<std::size_t>(volume)].get();
}

std::optional<std::uint64_t> ImageVolumeDevices::lengthInfo(Handle volume) {
    Open* open = handle(volume);
    if (!open) {
        return std::nullopt;
    }
    return open->device->size();
}

bool ImageVolumeDevices::lockVolume(Handle volume) {
    log_.push_back("lock");
    Open* open = handle(volume);
    if (!open || drives_[open->letter].busy) {
        return false;
    }
    open->locked = true;
    return true;
}

bool ImageVolumeDevices::dismountVolume(Handle volume) {
    log_.push_back("dismount");
    Open* open = handle(volume);
    if (!open) {
        return false;
    }
    open->dismounted = true;
    return true;
}

bool ImageVolumeDevices::aligned(std::uint64_t offset, std::size_t length) {
    if (offset % kSectorBytes != 0 || length % kSectorBytes != 0 || length == 0) {
        ++misaligned_;
        return false;
    }
    return true;
}

bool ImageVolumeDevices::readSectors(Handle volume, std::uint64_t offset, std::uint8_t* out,
                                     std::size_t length) {
    Open* open = handle(volume);
    return open && aligned(offset, length) && open->device->readAt(offset, out, length);
}

bool ImageVolumeDevices::writeSectors(Handle volume, std::uint64_t offset, const std::uint8_t* data,
                                      std::size_t length) {
    Open* open = handle(volume);
    if (!open || !aligned(offset, length)) {
        return false;
    }
    if (!open->writable || !open->locked || !open->dismounted) {
        ++refusedWrites_;
        return false;
    }
    return open->device->writeAt(offset, data, length);
}

std::optional<RetrievalPointers> ImageVolumeDevices::retrievalPointers(const std::string& path) {
    const auto found = path.size() > 3 ? drives_.find(path[0]) : drives_.end();
    if (found == drives_.end() || found->second.image.empty() || path.substr(1, 2) != ":\\") {
        return std::nullopt;
    }
    int error = 0;
    auto device = fat::FileBlockDevice::open(found->second.image, false, &error);
    std::uint8_t boot[fat::boot::kSize];
    if (!device || !device->readAt(0, boot, sizeof boot)) {
        return std::nullopt;
    }
    const auto geometry = fat::parseBootSector(boot, sizeof boot, device->size());
    if (!geometry) {
        return std::nullopt;
    }
    std::string volumePath = path.substr(3);
    for (char& c : volumePath) {
        c = c == '\\' ? '/' : c;
    }
    fat::FatVolumeReader reader(*device, *geometry);
    const auto lookup = reader.lookup(volumePath);
    if (lookup.outcome != fat::Lookup::found || lookup.isRoot) {
        return std::nullopt;
    }
    // The file system counts logical clusters from the first data cluster, number 2; an empty
    // file has no extents.
    RetrievalPointers pointers;
    const auto chain = reader.chain(lookup.item.firstCluster);
    for (std::size_t i = 0; i < chain.clusters.size(); ++i) {
        if (i == 0 || chain.clusters[i] != chain.clusters[i - 1] + 1) {
            ++pointers.extentCount;
        }
    }
    if (!chain.clusters.empty()) {
        pointers.firstLogicalCluster = std::int64_t{chain.clusters.front()} - 2;
    }
    return pointers;
}

}  // namespace korvo::test
