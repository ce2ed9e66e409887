#pragma once
// Byte-addressed access to a disk image or block device, and finding the FAT volume inside it.
//
// IBlockSource is what read-only code (boot sector, FAT, directory walk, cluster chains) reads
// through; IBlockTarget adds writing for the FAT image file system. FileBlockDevice implements
// both over a host file, or over a raw volume ("\\.\E:") where the host reaches drives so. VolumeWindow shows one partition of a
// whole-disk image as if it were a bare volume (offset 0 is the partition's boot sector).
//
//   int error = 0;
//   auto image = fat::FileBlockDevice::open("disk.img", /*writable=*/false, &error);
//   auto extent = image ? fat::locateFatVolume(*image, /*partition=*/0) : std::nullopt;
//   if (extent) {
//       fat::VolumeWindow volume(*image, *extent);
//       std::uint8_t sector[512];
//       volume.readAt(0, sector, sizeof sector);   // the volume's boot sector
//   }

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "wavefile/HostFile.h"

namespace korvo::fat {

class IBlockSource {
public:
    virtual ~IBlockSource() = default;
    // Reads exactly n bytes at the byte offset; false when any of them cannot be read (also
    // beyond the end).
    virtual bool readAt(std::uint64_t offset, void* out, std::size_t n) = 0;
    // Size in bytes.
    virtual std::uint64_t size() const = 0;
};

class IBlockTarget : public IBlockSource {
public:
    // Writes exactly n bytes at the byte offset; false when that failed or lies beyond the end.
    virtual bool writeAt(std::uint64_t offset, const void* data, std::size_t n) = 0;
    // Makes the writes so far durable.
    virtual bool flush() = 0;
    virtual bool writable() const = 0;
};

// A file, block device or raw volume read and written by byte position.
class FileBlockDevice final : public IBlockTarget {
public:
    // Opens read-write when writable is set and the host allows it, else read-only (a
    // read-only image is then reported through writable()). Null on failure; errorNumber gets
    // the errno of the failed open (EACCES when access was refused).
    static std::unique_ptr<FileBlockDevice> open(const std::string& path, bool writable,
                                                 int* errorNumber);
    ~FileBlockDevice() override;
    FileBlockDevice(const FileBlockDevice&) = delete;
    FileBlockDevice& operator=(const FileBlockDevice&) = delete;

    bool readAt(std::uint64_t offset, void* out, std::size_t n) override;
    std::uint64_t size() const override { return size_; }
    bool writeAt(std::uint64_t offset, const void* data, std::size_t n) override;
    bool flush() override;
    bool writable() const override { return writable_; }

private:
    FileBlockDevice(std::unique_ptr<CHostFile> file, std::unique_ptr<IBlockTarget> volume,
                    std::uint64_t size, bool writable);
    std::unique_ptr<CHostFile> file_;
    std::unique_ptr<IBlockTarget> volume_;  // a raw volume of the host instead of a file
    std::uint64_t size_;
    bool writable_;
};

// Where a FAT volume lies in a disk or image.
struct VolumeExtent {
    std::uint64_t offset = 0;  // byte offset of the volume's boot sector
    std::uint64_t length = 0;  // bytes
};

// Finds the FAT volume: a bare volume (its first sector is a FAT boot sector) has offset 0 and
// the whole length; a disk with an MBR gives the partition `partition` (1..4), or with 0 the
// first partition whose type and boot sector are FAT. A partition reaching past the end of the
// disk is cut to the disk. Nullopt when there is no such volume.
std::optional<VolumeExtent> locateFatVolume(IBlockSource& disk, int partition);

// One extent of another source or target, addressed from 0. Reads and writes outside the
// extent fail. Writes fail when the underlying object is only a source.
class VolumeWindow final : public IBlockTarget {
public:
    VolumeWindow(IBlockSource& source, const VolumeExtent& extent);
    VolumeWindow(IBlockTarget& target, const VolumeExtent& extent);

    bool readAt(std::uint64_t offset, void* out, std::size_t n) override;
    std::uint64_t size() const override { return extent_.length; }
    bool writeAt(std::uint64_t offset, const void* data, std::size_t n) override;
    bool flush() override;
    bool writable() const override { return target_ != nullptr && target_->writable(); }

private:
    bool inside(std::uint64_t offset, std::size_t n) const;
    IBlockSource& source_;
    IBlockTarget* target_ = nullptr;
    VolumeExtent extent_;
};

}  // namespace korvo::fat
