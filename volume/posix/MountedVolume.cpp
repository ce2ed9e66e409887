#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "volume/HostVolume.h"
#include "volume/MountTable.h"

namespace korvo {

namespace {

bool isImageOrDevice(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode));
}

}  // namespace

std::optional<MountedVolume> findMountedVolume(const std::string& folder) {
    std::error_code error;
    const auto path = std::filesystem::canonical(folder, error);
    if (error)
        return std::nullopt;

    std::ifstream in("/proc/self/mountinfo");
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    const auto mounts = parseMountInfo(text.str());
    const MountEntry* mount = mountHolding(mounts, path.string());
    if (!mount)
        return std::nullopt;

    MountedVolume volume{mount->source, mount->mountPoint, mount->fileSystem};
    // A user-space mount may name its program instead of the image it serves.
    if (mount->fileSystem.rfind("fuse", 0) == 0 && !isImageOrDevice(mount->source)) {
        if (auto image = fuseImageOf(*mount))
            volume.device = *image;
    }
    return volume;
}

}  // namespace korvo
