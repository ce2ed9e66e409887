#pragma once
// The disks a user can pick in the main window: the mounted file systems of the host (pseudo
// file systems such as proc, sysfs, cgroup, tmpfs, devpts and overlay left out), read from
// /proc/self/mountinfo. Disk images the user opens are added to the list by the window.

#include <string_view>
#include <vector>

#include "volume/MountTable.h"

namespace korvo {

// File systems that hold no user's files.
bool isPseudoFileSystem(std::string_view fileSystem);

// The mounted file systems worth listing from a mountinfo text: not pseudo, mount point a
// folder, each mount point once (the last mount over it wins), in mount order.
std::vector<MountEntry> listedFileSystems(std::string_view mountInfo);
std::vector<MountEntry> mountedFileSystems();

}  // namespace korvo
