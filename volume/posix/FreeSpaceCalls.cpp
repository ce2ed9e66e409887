#include "volume/FreeSpace.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <limits>

namespace korvo {

namespace {

std::optional<struct statvfs> statvfsOf(const std::string& path) {
    struct statvfs answer {};
    if (::statvfs(path.c_str(), &answer) != 0)
        return std::nullopt;
    return answer;
}

std::uint64_t fragmentSize(const struct statvfs& answer) {
    return answer.f_frsize != 0 ? answer.f_frsize : answer.f_bsize;
}

}  // namespace

std::optional<std::uint64_t> CStatvfsFreeSpace::callerFreeBytes(const std::string& path) {
    auto answer = statvfsOf(path);
    if (!answer)
        return std::nullopt;
    return static_cast<std::uint64_t>(answer->f_bavail) * fragmentSize(*answer);
}

std::optional<ClusterFreeSpace> CStatvfsFreeSpace::clusterFreeSpace(const std::string& root) {
    auto answer = statvfsOf(root);
    if (!answer)
        return std::nullopt;
    constexpr std::uint64_t most = std::numeric_limits<std::uint32_t>::max();
    ClusterFreeSpace space;
    space.sectorsPerCluster = 1;
    space.bytesPerSector =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(fragmentSize(*answer), most));
    space.freeClusters = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(answer->f_bavail), most));
    return space;
}

std::unique_ptr<IFreeSpaceCalls> hostFreeSpaceCalls() {
    return std::make_unique<CStatvfsFreeSpace>();
}

}  // namespace korvo
