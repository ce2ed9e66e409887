#pragma once
// The two ways the volume layer reaches a FAT volume's raw bytes. Only reads are ever issued.
//
// IVolumeFile is the modern access path: the volume opened as a file and read by byte position.
// On Linux it is the block device or image file (CDeviceVolumeFile); a file's first cluster is
// found by walking the volume's directories.
//
// IDeviceTransport is the classic access path: a device that takes block-device register calls
// (lock, media ID, device parameters, first cluster, sector reads). Linux has no such device;
// the calls are built on top of this interface (CBlockDeviceCalls) and tested with a transport
// that answers from an image.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "volume/DeviceRecords.h"

namespace korvo {

class IVolumeFile {
public:
    virtual ~IVolumeFile() = default;
    // Opens the volume for reading; false with a one-line reason naming it.
    virtual bool open(std::string& reason) = 0;
    virtual void close() = 0;
    // Bytes per sector of the volume, before its boot sector has been parsed.
    virtual std::optional<std::uint32_t> bytesPerSector() = 0;
    // Length of the volume in bytes, 0 when unknown.
    virtual std::uint64_t size() = 0;
    // Reads exactly `length` bytes at byte `offset` of the volume.
    virtual bool readAt(std::uint64_t offset, std::uint8_t* data, std::size_t length) = 0;
    // The FAT cluster number of the first cluster of the file at `path` (relative to the volume
    // root, '/' separators); nullopt when there is no such file or it has no cluster.
    virtual std::optional<std::uint32_t> firstCluster(std::string_view path) = 0;
};

class IDeviceTransport {
public:
    virtual ~IDeviceTransport() = default;
    virtual bool open() = 0;
    virtual void close() = 0;
    // Sends one call with its registers. Addresses in the registers and in records are offsets
    // into `memory`. False when the device did not take the call; a call it took but refused
    // comes back with the carry flag set.
    virtual bool control(std::uint32_t code, RegisterBlock& registers,
                         std::span<std::uint8_t> memory) = 0;
};

}  // namespace korvo
