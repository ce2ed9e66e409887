#pragma once
// The host's side of volume access: the device behind a mounted folder (on Linux the block
// device the mount table names, on Windows the drive's volume file "\\.\E:"), opening and
// identifying the FAT volume on a device or image, the cluster chain of a file on it, and the
// bytes the caller may still write under a path.
//
// The disk model's folder access calls these; the FAT image file system reaches the same volume
// through its own code.
//
//   auto mounted = findMountedVolume("/media/recorder");
//   std::string reason;
//   if (mounted && checkVolumeDevice(mounted->device, 0, reason)) {
//       std::vector<std::uint16_t> chain;
//       clusterChainOnDevice(mounted->device, 0, "SONG0000.KRV/TAKE0002.KRV", chain, &reason);
//   }

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// The device (and mount point) behind a mounted folder: from /proc/self/mountinfo on Linux, the
// drive holding it on Windows.
struct MountedVolume {
    std::string device;
    std::string mountPoint;
    std::string fileSystem;
};
std::optional<MountedVolume> findMountedVolume(const std::string& folder);

// Opens and identifies the FAT volume on a block device or image (partition 1-based; 0 = the
// first FAT partition of an MBR disk, or the bare volume). False with a one-line reason naming
// the device and what is wrong (e.g. "cannot read /dev/sdb1: Permission denied").
bool checkVolumeDevice(const std::string& device, int partition, std::string& reason);

// Cluster chain of the file at `path` (relative to the volume root, '/' separators, 8.3 or long
// names, case-insensitive), each cluster cut to 16 bits. False when the volume can't be read or
// the file has no first cluster; `reason` (may be null) says why.
bool clusterChainOnDevice(const std::string& device, int partition, std::string_view path,
                          std::vector<std::uint16_t>& chain, std::string* reason);

// Bytes free to unprivileged callers on the file system that holds `path` (statvfs), through the
// host free-space logic with the Linux platform description.
std::optional<std::uint64_t> hostFreeBytes(const std::string& path);

}  // namespace korvo
