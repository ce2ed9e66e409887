#include "volume/Platform.h"

namespace korvo {

PlatformDescription hostPlatform() {
    PlatformDescription platform;
    platform.answered = true;
    platform.family = PlatformFamily::modern;
    platform.buildNumber = 2600;
    return platform;
}

}  // namespace korvo
