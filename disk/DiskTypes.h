#pragma once
// Small shared types of the recorder disk: disk family, song number, virtual-track index, data
// type and block width, sample-rate code, block range.

#include <cstdint>

namespace korvo {

// Disk family, found by the disk check; selects every recorder file name and the cluster size
// of take files. The values are stored and compared as they are.
enum DiskFamily : int {
    kFamilyQmt = 0,
    kFamilyKrv = 1,  // the main recorder
    kFamilyQms = 2,
    kFamilyNone = 3,
};

using SongNumber = std::uint16_t;  // 0-based on the disk, shown to the user plus one

inline constexpr int kTracks = 8;
inline constexpr int kVTracksPerTrack = 8;
inline constexpr int kVirtualTracks = kTracks * kVTracksPerTrack;

// Virtual-track index v (0..63): track v / 8 + 1, V.Track v mod 8 + 1.
constexpr int trackOf(int v) {
    return v / kVTracksPerTrack + 1;
}
constexpr int vtrackOf(int v) {
    return v % kVTracksPerTrack + 1;
}
constexpr int virtualTrackIndex(int track, int vtrack) {
    return (track - 1) * kVTracksPerTrack + (vtrack - 1);
}

// Data type code of a song list entry and its block width w: one compressed block of one
// channel is 2w bytes and holds 16 samples. Unknown codes give width 0 (no codec).
constexpr int blockWidthOfDataType(std::uint8_t code) {
    switch (code) {
        case 0:
            return 8;
        case 1:
            return 6;  // "MT2"
        case 2:
            return 5;  // "LV1"
        case 4:
            return 4;  // "LV2"
        default:
            return 0;
    }
}

// The name shown for a block width: 4 "LV2", 5 "LV1", 6 "MT2", anything else empty.
constexpr const char* dataTypeNameOfWidth(int width) {
    switch (width) {
        case 4:
            return "LV2";
        case 5:
            return "LV1";
        case 6:
            return "MT2";
        default:
            return "";
    }
}

inline constexpr std::uint8_t kProtectFlag = 0x40;

// Sample rate from a song's flags byte: bit 6 (protect) masked off, bit 7 kept.
constexpr std::uint32_t sampleRateOfFlags(std::uint8_t flags) {
    switch (flags & ~kProtectFlag & 0xFF) {
        case 0:
            return 48000;
        case 1:
            return 44100;
        case 2:
            return 32000;
        default:
            return 0;
    }
}

inline constexpr int kFramesPerBlock = 16;

// Blocks [start, end), end exclusive.
struct BlockRange {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::uint32_t count() const { return end - start; }
};

}  // namespace korvo
