#pragma once
// The volume handle: one FAT volume opened for raw reads for the length of one operation,
// identified from its boot data, with the calls the cluster chain needs (lock state, lock level,
// first cluster of a path, one sector). The access path follows the platform description: the
// classic family goes through block-device calls (IDeviceTransport), the modern family through
// the volume opened as a file (IVolumeFile).
//
//   CVolume volume(hostPlatform(), 0, &volumeFile, nullptr);
//   if (volume.open()) {
//       auto first = volume.firstCluster("SONG0000.KRV/TAKE0002.KRV");
//       volume.readSector(volume.geometry().reservedSectors, buffer);
//   }
//   // the destructor closes the device

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "volume/BlockDeviceCalls.h"
#include "volume/Platform.h"
#include "volume/VolumeAccess.h"
#include "volume/fat/FatLayout.h"

namespace korvo {

// FAT bits before the volume is identified.
inline constexpr int kFatBitsUnknown = 33;

class CVolume {
public:
    // `driveNumber` is what the block-device calls address (A is 1); the volume file ignores it.
    // Either backend may be null when the platform does not use it.
    CVolume(const PlatformDescription& platform, std::uint32_t driveNumber, IVolumeFile* volumeFile,
            IDeviceTransport* transport);
    ~CVolume();
    CVolume(const CVolume&) = delete;
    CVolume& operator=(const CVolume&) = delete;

    // Chooses the access path, opens the device and identifies the volume. False, with reason(),
    // when the platform is not supported, the device cannot be opened, or its boot data does not
    // describe a FAT12/16/32 volume that fits.
    bool open();
    void close();

    AccessPath accessPath() const { return path_; }
    int fatBits() const;
    // Valid after a successful open().
    const fat::FatGeometry& geometry() const { return geometry_; }
    const std::string& reason() const { return reason_; }

    // The current lock level; the volume file needs no lock and answers 0.
    std::optional<int> lockState();
    // Steps the lock level from `current` to `target` one level at a time. `reached` (may be
    // null) receives the level the volume is left at, also when a step fails.
    bool setLockLevel(int current, int target, int* reached = nullptr);
    // The first cluster of the file at `path`; nullopt when it has none, or when the number is 0,
    // 1 or not below the cluster limit.
    std::optional<std::uint32_t> firstCluster(std::string_view path);
    // Reads sector `sector` of the volume (geometry().bytesPerSector bytes) into `out`.
    bool readSector(std::uint32_t sector, std::uint8_t* out);

private:
    bool identifyFromVolumeFile();
    bool identifyFromBlockDevice();
    bool acceptBootData(const std::uint8_t* sector, std::size_t length, std::uint64_t volumeBytes,
                        std::optional<fat::FatType> declared);
    bool fail(std::string reason);

    PlatformDescription platform_;
    std::uint32_t drive_;
    IVolumeFile* volumeFile_;
    IDeviceTransport* transport_;
    std::optional<CBlockDeviceCalls> calls_;
    AccessPath path_ = AccessPath::unsupported;
    bool identified_ = false;
    bool deviceOpen_ = false;
    fat::FatGeometry geometry_;
    std::string reason_;
};

}  // namespace korvo
