#include <windows.h>

#include "volume/FreeSpace.h"
#include "wavefile/win32/WideText.h"

namespace korvo {

namespace {

// The host's two calls: bytes free to the caller under any path, and the older answer in
// clusters for a root.
class CWin32FreeSpace final : public IFreeSpaceCalls {
public:
    bool hasCallerFreeBytes() const override { return true; }

    std::optional<std::uint64_t> callerFreeBytes(const std::string& path) override {
        ULARGE_INTEGER callerFree{};
        if (!GetDiskFreeSpaceExW(win32::wideOf(path).c_str(), &callerFree, nullptr, nullptr)) {
            return std::nullopt;
        }
        return callerFree.QuadPart;
    }

    std::optional<ClusterFreeSpace> clusterFreeSpace(const std::string& root) override {
        DWORD sectorsPerCluster = 0;
        DWORD sectorBytes = 0;
        DWORD freeClusters = 0;
        DWORD clusters = 0;
        if (!GetDiskFreeSpaceW(win32::wideOf(root).c_str(), &sectorsPerCluster, &sectorBytes,
                               &freeClusters, &clusters)) {
            return std::nullopt;
        }
        return ClusterFreeSpace{sectorsPerCluster, sectorBytes, freeClusters};
    }
};

}  // namespace

std::unique_ptr<IFreeSpaceCalls> hostFreeSpaceCalls() {
    return std::make_unique<CWin32FreeSpace>();
}

}  // namespace korvo
