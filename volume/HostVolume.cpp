#include "volume/HostVolume.h"

namespace korvo {

std::optional<MountedVolume> findMountedVolume(const std::string&) { return std::nullopt; }

bool checkVolumeDevice(const std::string& device, int, std::string& reason) {
    reason = "cannot read " + device + ": volume access not available yet";
    return false;
}

bool clusterChainOnDevice(const std::string& device, int, std::string_view,
                          std::vector<std::uint16_t>& chain, std::string* reason) {
    chain.clear();
    if (reason) *reason = "cannot read " + device + ": volume access not available yet";
    return false;
}

std::optional<std::uint64_t> hostFreeBytes(const std::string&) { return std::nullopt; }

}  // namespace korvo
