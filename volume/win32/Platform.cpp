#include <windows.h>

#include "volume/Platform.h"

namespace korvo {

// The host's own answer; a program without a compatibility manifest is told an NT build of at
// least the one it was made for, which is all the volume code asks.
PlatformDescription hostPlatform() {
    PlatformDescription platform;
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version)) {
        return platform;
    }
    platform.answered = true;
    platform.family = version.dwPlatformId == VER_PLATFORM_WIN32_NT ? PlatformFamily::modern
                      : version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS
                          ? PlatformFamily::classic
                          : PlatformFamily::unknown;
    platform.buildNumber = version.dwBuildNumber;
    return platform;
}

}  // namespace korvo
