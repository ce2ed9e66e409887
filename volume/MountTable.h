#pragma once
// The host's mount table as the kernel reports it in /proc/self/mountinfo, and the lookup of
// the mount that holds a folder. Folder access uses it to find the raw device (or, for a
// user-space FAT mount, the image file) behind the recorder disk's folder, which cluster chains
// are read from.
//
//   auto mounts = parseMountInfo(textOf("/proc/self/mountinfo"));
//   const MountEntry* mount = mountHolding(mounts, "/media/recorder/SONG0000.KRV");

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

struct MountEntry {
    std::string root;  // the folder of the mounted file system shown at the mount point
    std::string mountPoint;
    std::string fileSystem;  // "vfat", "fuse.fusefat", ...
    std::string source;      // "/dev/sdb1", an image path, or a name such as "fusefat"
};

// Lines that do not have the mountinfo shape are left out. Octal escapes (\040 for a space) in
// paths are decoded.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// The mount whose mount point holds `path` (an absolute path without "." or ".." parts):
// the longest mount point that is `path` or one of its parent folders, the later one when a
// mount point was mounted over. Null when none holds it.
const MountEntry* mountHolding(const std::vector<MountEntry>& mounts, std::string_view path);

// For a user-space (FUSE) mount that does not name its image as the source: the image or device
// file that the serving process holds open and was started with, found from the processes'
// command lines and open files (only processes of the caller's user can be looked into).
std::optional<std::string> fuseImageOf(const MountEntry& mount);

}  // namespace korvo
