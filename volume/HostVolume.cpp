#include "volume/HostVolume.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "volume/ClusterChain.h"
#include "volume/DeviceVolumeFile.h"
#include "volume/FreeSpace.h"
#include "volume/MountTable.h"
#include "volume/Platform.h"
#include "volume/Volume.h"

namespace korvo {

namespace {

bool isImageOrDevice(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode));
}

// The volume's reason, with the device named when the volume did not name it already.
std::string reasonFor(const std::string& device, const std::string& reason) {
    if (reason.find(device) != std::string::npos)
        return reason;
    return device + ": " + reason;
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

bool checkVolumeDevice(const std::string& device, int partition, std::string& reason) {
    CDeviceVolumeFile file(device, partition);
    CVolume volume(hostPlatform(), 0, &file, nullptr);
    if (!volume.open()) {
        reason = reasonFor(device, volume.reason());
        return false;
    }
    reason.clear();
    return true;
}

bool clusterChainOnDevice(const std::string& device, int partition, std::string_view path,
                          std::vector<std::uint16_t>& chain, std::string* reason) {
    CDeviceVolumeFile file(device, partition);
    CVolume volume(hostPlatform(), 0, &file, nullptr);
    if (clusterChain(volume, path, chain)) {
        if (reason)
            reason->clear();
        return true;
    }
    if (reason) {
        *reason = volume.reason().empty()
                      ? device + ": no file " + std::string(path) + " with a first cluster"
                      : reasonFor(device, volume.reason());
    }
    return false;
}

std::optional<std::uint64_t> hostFreeBytes(const std::string& path) {
    CStatvfsFreeSpace calls;
    return hostFreeBytes(hostPlatform(), calls, path);
}

}  // namespace korvo
