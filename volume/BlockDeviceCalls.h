#pragma once
// The block-device register calls of the classic access paths, each filled in as the device
// expects it and sent through an IDeviceTransport: lock, unlock, lock state, media ID, device
// parameters, first cluster of a path, and sector reads.
//
// On the large-volume path the calls of category 48h are tried first; the classic category 08h
// is tried when 48h was not tried or failed, and then only on a volume whose FAT is not 32-bit
// (the media ID call, which is what tells the FAT type, always falls back).
//
//   CBlockDeviceCalls calls(transport, AccessPath::largeBlockDevice, driveNumberOf('E'));
//   auto level = calls.lockState();
//   calls.readSector(0, buffer, 512);

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "volume/DeviceRecords.h"
#include "volume/VolumeAccess.h"
#include "volume/fat/FatLayout.h"

namespace korvo {

// How a volume is reached. The values are those the volume handle keeps.
enum class AccessPath : std::uint32_t {
    blockDevice = 0,       // classic block-device calls
    largeBlockDevice = 1,  // block-device calls that also handle volumes with 32-bit FATs
    volumeFile = 2,        // the volume opened as a file
    unsupported = 3,
};

// Drive number of a drive letter: upper-cased letter minus 64, so A is 1.
constexpr std::uint32_t driveNumberOf(char letter) {
    const char upper =
        (letter >= 'a' && letter <= 'z') ? static_cast<char>(letter - 'a' + 'A') : letter;
    return static_cast<std::uint32_t>(static_cast<unsigned char>(upper)) - 64u;
}

class CBlockDeviceCalls {
public:
    CBlockDeviceCalls(IDeviceTransport& transport, AccessPath path, std::uint32_t driveNumber);

    // The FAT type once the volume is identified; until then the classic category stays allowed.
    void setFatType(fat::FatType type) { fatType_ = type; }

    bool lock(int level);
    bool unlock();
    // The current lock level as a signed 16-bit value: -1 unlocked, 0 to 3 locked.
    std::optional<int> lockState();
    // The FAT type named by the media ID record's file-system text; nullopt when the call fails
    // or the text is none of "FAT12", "FAT16", "FAT32".
    std::optional<fat::FatType> mediaFatType();
    // The volume's parameter block, placed where it lies in a boot sector (from byte 11 on) so
    // that the boot-sector parser reads it; nullopt when the calls fail.
    std::optional<std::array<std::uint8_t, fat::boot::kSize>> deviceParameters();
    // The first cluster of the file at `path` as the device answers it (DX:AX).
    std::optional<std::uint32_t> firstCluster(std::string_view path);
    // Reads one sector of `bytesPerSector` (at most 4096) bytes into `out`.
    bool readSector(std::uint32_t sector, std::uint8_t* out, std::uint32_t bytesPerSector);

private:
    bool send(std::uint32_t code, RegisterBlock& registers);
    // Runs a call of the block-device request in each allowed category until one succeeds.
    template <class Call>
    bool inCategories(bool classicAlwaysAllowed, Call&& call);
    void clearRecord();

    IDeviceTransport& transport_;
    AccessPath path_;
    std::uint32_t drive_;
    std::optional<fat::FatType> fatType_;
    std::array<std::uint8_t, request_memory::kSize> memory_{};
};

}  // namespace korvo
