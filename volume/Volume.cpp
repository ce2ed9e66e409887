#include "volume/Volume.h"

#include <vector>

#include "volume/LockLevel.h"

namespace korvo {

namespace {

std::optional<fat::FatType> declaredFatType(const std::string& text) {
    if (text == "FAT12")
        return fat::FatType::fat12;
    if (text == "FAT16")
        return fat::FatType::fat16;
    if (text == "FAT32")
        return fat::FatType::fat32;
    return std::nullopt;
}

}  // namespace

CVolume::CVolume(const PlatformDescription& platform, std::uint32_t driveNumber,
                 IVolumeFile* volumeFile, IDeviceTransport* transport)
    : platform_(platform), drive_(driveNumber), volumeFile_(volumeFile), transport_(transport) {}

CVolume::~CVolume() {
    close();
}

int CVolume::fatBits() const {
    return identified_ ? static_cast<int>(fat::fatEntryBits(geometry_.type)) : kFatBitsUnknown;
}

bool CVolume::fail(std::string reason) {
    reason_ = std::move(reason);
    return false;
}

bool CVolume::open() {
    close();
    identified_ = false;
    reason_.clear();
    path_ = AccessPath::unsupported;
    if (platform_.answered && platform_.family == PlatformFamily::classic) {
        path_ = platform_.isNewerBuild() ? AccessPath::largeBlockDevice : AccessPath::blockDevice;
    } else if (platform_.answered && platform_.family == PlatformFamily::modern) {
        path_ = AccessPath::volumeFile;
    } else {
        return fail("raw volume access is not supported on this platform");
    }

    if (path_ == AccessPath::volumeFile) {
        if (!volumeFile_)
            return fail("no volume file to read the volume from");
        std::string reason;
        if (!volumeFile_->open(reason))
            return fail(reason);
        deviceOpen_ = true;
        if (!identifyFromVolumeFile()) {
            close();
            return false;
        }
    } else {
        if (!transport_)
            return fail("no block device to read the volume from");
        if (!transport_->open())
            return fail("cannot open the block device");
        deviceOpen_ = true;
        calls_.emplace(*transport_, path_, drive_);
        if (!identifyFromBlockDevice()) {
            close();
            return false;
        }
    }
    identified_ = true;
    return true;
}

void CVolume::close() {
    if (!deviceOpen_)
        return;
    deviceOpen_ = false;
    if (path_ == AccessPath::volumeFile) {
        if (volumeFile_)
            volumeFile_->close();
    } else if (transport_) {
        transport_->close();
    }
    calls_.reset();
}

bool CVolume::identifyFromVolumeFile() {
    const auto bytesPerSector = volumeFile_->bytesPerSector();
    if (!bytesPerSector)
        return fail("cannot read the boot sector");
    if (*bytesPerSector < fat::boot::kSize || *bytesPerSector > request_memory::kSectorSize)
        return fail("not a FAT volume: " + std::to_string(*bytesPerSector) + " bytes per sector");
    std::vector<std::uint8_t> sector(*bytesPerSector);
    if (!volumeFile_->readAt(0, sector.data(), sector.size()))
        return fail("cannot read the boot sector");
    std::optional<fat::FatType> declared;
    if (auto geometry = fat::parseBootSector(sector.data(), sector.size(), 0))
        declared = declaredFatType(geometry->declaredType);
    return acceptBootData(sector.data(), sector.size(), volumeFile_->size(), declared);
}

bool CVolume::identifyFromBlockDevice() {
    const auto declared = calls_->mediaFatType();
    if (!declared)
        return fail("the media ID names no FAT12, FAT16 or FAT32 file system");
    calls_->setFatType(*declared);
    const auto parameters = calls_->deviceParameters();
    if (!parameters)
        return fail("cannot read the device parameters");
    return acceptBootData(parameters->data(), parameters->size(), 0, declared);
}

bool CVolume::acceptBootData(const std::uint8_t* sector, std::size_t length,
                             std::uint64_t volumeBytes, std::optional<fat::FatType> declared) {
    const std::uint32_t bytesPerSector = readLittleEndian16(sector + fat::boot::kBytesPerSector);
    if (bytesPerSector == 0)
        return fail("not a FAT volume: 0 bytes per sector");
    if (sector[fat::boot::kSectorsPerCluster] == 0)
        return fail("not a FAT volume: 0 sectors per cluster");
    auto geometry = fat::parseBootSector(sector, length, volumeBytes);
    if (!geometry)
        return fail("not a FAT volume: its boot sector sizes do not fit");
    if (!declared)
        return fail("not a FAT volume: no FAT12, FAT16 or FAT32 type text");
    // The FAT is read with the entry width its layout implies, which is what every FAT driver
    // writes; the type text only has to be present.
    geometry_ = *geometry;
    if (calls_)
        calls_->setFatType(geometry_.type);
    return true;
}

std::optional<int> CVolume::lockState() {
    if (!identified_)
        return std::nullopt;
    if (path_ == AccessPath::volumeFile)
        return 0;
    return calls_->lockState();
}

bool CVolume::setLockLevel(int current, int target, int* reached) {
    if (reached)
        *reached = current;
    if (!identified_)
        return false;
    if (path_ == AccessPath::volumeFile)
        return current == target;
    const auto steps = lockSteps(current, target);
    if (!steps)
        return false;
    for (const auto& step : *steps) {
        if (!(step.lock ? calls_->lock(step.level) : calls_->unlock()))
            return false;
        if (reached)
            *reached = step.level;
    }
    return true;
}

std::optional<std::uint32_t> CVolume::firstCluster(std::string_view path) {
    if (!identified_)
        return std::nullopt;
    const auto cluster = path_ == AccessPath::volumeFile ? volumeFile_->firstCluster(path)
                                                         : calls_->firstCluster(path);
    if (!cluster || !geometry_.isDataCluster(*cluster))
        return std::nullopt;
    return cluster;
}

bool CVolume::readSector(std::uint32_t sector, std::uint8_t* out) {
    if (!identified_)
        return false;
    if (path_ == AccessPath::volumeFile)
        return volumeFile_->readAt(geometry_.sectorOffset(sector), out, geometry_.bytesPerSector);
    return calls_->readSector(sector, out, geometry_.bytesPerSector);
}

}  // namespace korvo
