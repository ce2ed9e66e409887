#include "volume/HostVolume.h"

#include <memory>

#include "volume/ClusterChain.h"
#include "volume/DeviceVolumeFile.h"
#include "volume/FreeSpace.h"
#include "volume/Platform.h"
#include "volume/Volume.h"
#include "volume/VolumeDevice.h"

namespace korvo {

namespace {

// The volume's reason, with the device named when the volume did not name it already.
std::string reasonFor(const std::string& device, const std::string& reason) {
    if (reason.find(device) != std::string::npos)
        return reason;
    return device + ": " + reason;
}

// The raw volume behind a device path: a drive's volume file where the host reaches drives so,
// else the device or image opened as a file.
std::unique_ptr<IVolumeFile> volumeFileOf(const std::string& device, int partition) {
    IVolumeDeviceCalls* calls = hostVolumeDeviceCalls();
    if (const auto letter = rawVolumeLetter(device); calls && letter && partition == 0) {
        return std::make_unique<CRawVolumeFile>(*calls, *letter);
    }
    return std::make_unique<CDeviceVolumeFile>(device, partition);
}

}  // namespace

bool checkVolumeDevice(const std::string& device, int partition, std::string& reason) {
    const auto file = volumeFileOf(device, partition);
    CVolume volume(hostPlatform(), 0, file.get(), nullptr);
    if (!volume.open()) {
        reason = reasonFor(device, volume.reason());
        return false;
    }
    reason.clear();
    return true;
}

bool clusterChainOnDevice(const std::string& device, int partition, std::string_view path,
                          std::vector<std::uint16_t>& chain, std::string* reason) {
    const auto file = volumeFileOf(device, partition);
    CVolume volume(hostPlatform(), 0, file.get(), nullptr);
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
    return hostFreeBytes(hostPlatform(), *hostFreeSpaceCalls(), path);
}

}  // namespace korvo
