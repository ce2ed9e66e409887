#pragma once
// A disk image made from fuzzed bytes: the bytes are the image's start and everything after them
// reads as zeros, up to the size that the first sector declares (the boot sector's total sectors,
// or the end of the furthest MBR partition), at most 16 MiB. So an input need not carry a
// volume's empty clusters, and the seeds stay a few kilobytes long. Writes land in memory.
//
//   fuzz::PaddedImage image(data, size);
//   auto extent = fat::locateFatVolume(image, 0);

#include <cstdint>
#include <memory>
#include <vector>

#include "volume/VolumeAccess.h"
#include "volume/fat/BlockSource.h"

namespace korvo::fuzz {

class PaddedImage final : public fat::IBlockTarget {
public:
    static constexpr std::uint64_t kMostBytes = 16u << 20;

    PaddedImage(const std::uint8_t* data, std::size_t size);
    PaddedImage(const PaddedImage&) = default;

    bool readAt(std::uint64_t offset, void* out, std::size_t n) override;
    std::uint64_t size() const override { return size_; }
    bool writeAt(std::uint64_t offset, const void* data, std::size_t n) override;
    bool flush() override { return true; }
    bool writable() const override { return true; }

private:
    std::vector<std::uint8_t> bytes_;  // the image's start; the rest is zeros
    std::uint64_t size_;
};

// The modern volume access path over an image: the FAT volume the image holds (or the whole
// image when it has none, so that identification says what is wrong), first clusters found by
// the volume's own directory walk, as the device volume file does.
class ImageVolumeFile final : public IVolumeFile {
public:
    explicit ImageVolumeFile(fat::IBlockSource& image) : image_(image) {}

    bool open(std::string& reason) override;
    void close() override { window_.reset(); }
    std::optional<std::uint32_t> bytesPerSector() override;
    std::uint64_t size() override { return window_ ? window_->size() : 0; }
    bool readAt(std::uint64_t offset, std::uint8_t* data, std::size_t length) override;
    std::optional<std::uint32_t> firstCluster(std::string_view path) override;

private:
    fat::IBlockSource& image_;
    std::unique_ptr<fat::VolumeWindow> window_;
};

}  // namespace korvo::fuzz
