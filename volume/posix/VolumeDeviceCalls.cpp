#include "volume/VolumeDevice.h"

namespace korvo {

// Devices are files here: block devices and images are opened by path like any other file.
IVolumeDeviceCalls* hostVolumeDeviceCalls() {
    return nullptr;
}

}  // namespace korvo
