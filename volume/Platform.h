#pragma once
// What the volume code knows about the host it runs on: which family of the platform it is and
// its build number. Free space and the choice of volume access path branch on it. The host's
// own description comes from hostPlatform(); tests give the volume code any other description so
// that every branch can be exercised.

#include <cstdint>

namespace korvo {

enum class PlatformFamily : std::uint32_t {
    unknown = 0,
    // The older family: volumes are reached through block-device register calls and must be
    // locked around raw reads.
    classic = 1,
    // The modern family: volumes are opened as files and read by byte position.
    modern = 2,
};

struct PlatformDescription {
    // False when the host could not say what it is; free space and volume access then fail.
    bool answered = false;
    PlatformFamily family = PlatformFamily::unknown;
    // Only the low 16 bits take part in any decision.
    std::uint32_t buildNumber = 0;

    // Builds above 1000 have the newer free-space call and, in the classic family, the
    // large-volume block-device calls.
    bool isNewerBuild() const { return (buildNumber & 0xFFFFu) > 1000u; }
};

// The description of the machine the program runs on. A Linux build describes itself as the
// modern family with a build number above 1000.
PlatformDescription hostPlatform();

}  // namespace korvo
