#pragma once
// Host free space: how many bytes the caller may still write on the file system that holds a
// path. Export asks it for the folder of the target wave file, import for the recorder disk's
// root, the wave file dialogs show it.
//
// The host offers two free-space calls: a newer one that answers in bytes free to the caller,
// and an older one that answers in clusters for a root. Which one is used depends on the platform
// description; both sit behind IFreeSpaceCalls so that each branch can be tested.
//
//   auto calls = hostFreeSpaceCalls();
//   auto bytes = hostFreeBytes(hostPlatform(), *calls, "/media/recorder");
//   if (!bytes) { /* unanswered: the caller skips its space check */ }

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "volume/Platform.h"

namespace korvo {

// The older call's answer for a root.
struct ClusterFreeSpace {
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t bytesPerSector = 0;
    std::uint32_t freeClusters = 0;
};

class IFreeSpaceCalls {
public:
    virtual ~IFreeSpaceCalls() = default;
    // False when the host does not provide the newer call at all.
    virtual bool hasCallerFreeBytes() const = 0;
    // The newer call: bytes free to the caller on the file system holding `path`.
    virtual std::optional<std::uint64_t> callerFreeBytes(const std::string& path) = 0;
    // The older call, given a root as formed by freeSpaceRoot().
    virtual std::optional<ClusterFreeSpace> clusterFreeSpace(const std::string& root) = 0;
};

// The host's own calls: on Windows its two free-space calls, elsewhere statvfs.
std::unique_ptr<IFreeSpaceCalls> hostFreeSpaceCalls();

// POSIX hosts: both calls answered by statvfs, blocks available to unprivileged callers ×
// fragment size.
class CStatvfsFreeSpace final : public IFreeSpaceCalls {
public:
    bool hasCallerFreeBytes() const override { return true; }
    std::optional<std::uint64_t> callerFreeBytes(const std::string& path) override;
    std::optional<ClusterFreeSpace> clusterFreeSpace(const std::string& root) override;
};

// The root the older call is asked about: the path up to and including the first separator
// ('\' or '/') at or after its third character, or else its first two characters followed by
// a backslash ("C:" gives "C:\").
std::string freeSpaceRoot(const std::string& path);

// Bytes free to the caller under `path`, or nullopt when the platform is not known or the call
// fails. Builds above 1000 use the newer call; older builds use the older call on the root.
std::optional<std::uint64_t> hostFreeBytes(const PlatformDescription& platform,
                                           IFreeSpaceCalls& calls, const std::string& path);

}  // namespace korvo
