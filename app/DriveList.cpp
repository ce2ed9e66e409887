#include "app/DriveList.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvo {

namespace {

constexpr std::array<std::string_view, 30> kPseudoFileSystems = {
    "proc",        "sysfs",      "cgroup",    "cgroup2",         "tmpfs",       "devtmpfs",
    "devpts",      "overlay",    "mqueue",    "debugfs",         "tracefs",     "securityfs",
    "pstore",      "bpf",        "hugetlbfs", "configfs",        "fusectl",     "autofs",
    "binfmt_misc", "rpc_pipefs", "nsfs",      "efivarfs",        "ramfs",       "selinuxfs",
    "squashfs",    "nfsd",       "rootfs",    "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs",
};

}  // namespace

bool isPseudoFileSystem(std::string_view fileSystem) {
    return std::find(kPseudoFileSystems.begin(), kPseudoFileSystems.end(), fileSystem) !=
           kPseudoFileSystems.end();
}

std::vector<MountEntry> listedFileSystems(std::string_view mountInfo) {
    std::vector<MountEntry> listed;
    for (MountEntry& mount : parseMountInfo(mountInfo)) {
        if (isPseudoFileSystem(mount.fileSystem)) {
            continue;
        }
        std::error_code error;
        if (!std::filesystem::is_directory(mount.mountPoint, error)) {
            continue;  // bind mounts of single files
        }
        std::erase_if(
            listed, [&](const MountEntry& other) { return other.mountPoint == mount.mountPoint; });
        listed.push_back(std::move(mount));
    }
    return listed;
}

std::vector<MountEntry> mountedFileSystems() {
    std::ifstream file("/proc/self/mountinfo");
    if (!file) {
        return {};
    }
    std::ostringstream text;
    text << file.rdbuf();
    return listedFileSystems(text.str());
}

}  // namespace korvo
