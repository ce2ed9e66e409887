#include "volume/FreeSpace.h"

namespace korvo {

std::string freeSpaceRoot(const std::string& path) {
    const auto separator = path.find_first_of("\\/", 2);
    if (separator != std::string::npos)
        return path.substr(0, separator + 1);
    return path.substr(0, 2) + '\\';
}

std::optional<std::uint64_t> hostFreeBytes(const PlatformDescription& platform,
                                           IFreeSpaceCalls& calls, const std::string& path) {
    if (!platform.answered)
        return std::nullopt;
    if (platform.family != PlatformFamily::classic && platform.family != PlatformFamily::modern)
        return std::nullopt;

    if (platform.isNewerBuild()) {
        if (!calls.hasCallerFreeBytes())
            return std::nullopt;
        return calls.callerFreeBytes(path);
    }

    auto space = calls.clusterFreeSpace(freeSpaceRoot(path));
    if (!space)
        return std::nullopt;
    // Multiplied in 64 bits: a 32-bit product would wrap on volumes with more than 4 GiB free
    // and report a small, wrong figure.
    return static_cast<std::uint64_t>(space->sectorsPerCluster) * space->bytesPerSector *
           space->freeClusters;
}

}  // namespace korvo
