#pragma once
// The host's drive and raw-volume calls answered from FAT disk images: each drive letter is
// mapped to an image (or to nothing, for a drive without a medium), sectors are read and written
// in the image, and a file's retrieval pointers are found by walking the image's directories and
// FAT. The calls check what the host would: sector-aligned transfers only, writes only after the
// volume was locked and dismounted, no lock while the volume is busy.
//
//   test::ImageVolumeDevices devices;
//   devices.addDrive('E', image, DriveType::removable);
//   CRawVolumeFile volume(devices, 'E');

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "volume/VolumeDevice.h"
#include "volume/fat/BlockSource.h"

namespace korvo::test {

class ImageVolumeDevices final : public IVolumeDeviceCalls {
public:
    // image empty: a drive without a medium (it has a type but cannot be opened).
    void addDrive(char letter, const std::string& image, DriveType type);
    // Another program holds files open on the drive: locking it fails.
    void setBusy(char letter, bool busy) { drives_[letter].busy = busy; }

    // What the calls saw.
    int misalignedTransfers() const { return misaligned_; }
    int refusedWrites() const { return refusedWrites_; }
    int openHandles() const;
    std::vector<std::string> calls() const { return log_; }

    std::vector<std::string> logicalDriveRoots() override;
    DriveType driveType(const std::string& root) override;
    std::optional<std::uint32_t> bytesPerSector(const std::string& root) override;
    Handle openVolume(char letter, bool writable) override;
    void closeVolume(Handle volume) override;
    std::optional<std::uint64_t> lengthInfo(Handle volume) override;
    bool lockVolume(Handle volume) override;
    bool dismountVolume(Handle volume) override;
    bool readSectors(Handle volume, std::uint64_t offset, std::uint8_t* out,
                     std::size_t length) override;
    bool writeSectors(Handle volume, std::uint64_t offset, const std::uint8_t* data,
                      std::size_t length) override;
    std::optional<RetrievalPointers> retrievalPointers(const std::string& path) override;

private:
    struct Drive {
        std::string image;
        DriveType type = DriveType::unknown;
        bool busy = false;
    };
    struct Open {
        char letter = 0;
        bool writable = false;
        bool locked = false;
        bool dismounted = false;
        std::unique_ptr<fat::FileBlockDevice> device;
    };
    Open* handle(Handle volume);
    bool aligned(std::uint64_t offset, std::size_t length);

    std::map<char, Drive> drives_;
    std::vector<std::unique_ptr<Open>> open_;
    std::vector<std::string> log_;
    int misaligned_ = 0;
    int refusedWrites_ = 0;
};

}  // namespace korvo::test
