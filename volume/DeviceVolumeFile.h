#pragma once
// The modern access path on Linux: a block device or image file opened read-only and read by
// pread, with an MBR partition table handled (the partition asked for, or the first FAT
// partition, or the bare volume). A file's first cluster comes from the volume's own directory
// walk, by 8.3 or long name without regard to case.
//
//   CDeviceVolumeFile file("/dev/sdb", 0);
//   CVolume volume(hostPlatform(), 0, &file, nullptr);
//   std::vector<std::uint16_t> chain;
//   clusterChain(volume, "SONG0000.KRV/TAKE0002.KRV", chain);

#include <memory>
#include <optional>
#include <string>

#include "volume/VolumeAccess.h"
#include "volume/fat/BlockSource.h"

namespace korvo {

class CDeviceVolumeFile final : public IVolumeFile {
public:
    // `partition` is 1-based; 0 takes the first FAT partition of an MBR disk or the bare volume.
    CDeviceVolumeFile(std::string device, int partition);

    bool open(std::string& reason) override;
    void close() override;
    std::optional<std::uint32_t> bytesPerSector() override;
    std::uint64_t size() override;
    bool readAt(std::uint64_t offset, std::uint8_t* data, std::size_t length) override;
    std::optional<std::uint32_t> firstCluster(std::string_view path) override;

private:
    std::string device_;
    int partition_;
    std::unique_ptr<fat::FileBlockDevice> disk_;
    std::optional<fat::VolumeWindow> volume_;
};

}  // namespace korvo
