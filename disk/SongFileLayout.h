#pragma once
// The QMT family's song file "SONG.QMT": of its first 1600 bytes, the 9 bytes at 368 + 16 v
// hold the name of virtual track v, padded with zero bytes. Everything else (the rest of each
// 16-byte slot, the 368 bytes before and the 208 after) is kept as it is; bytes past 1600 are
// never touched.

#include <cstddef>

#include "disk/DiskTypes.h"

namespace korvo {

inline constexpr std::size_t kSongFileBytes = 1600;
inline constexpr std::size_t kSongFileNamesOffset = 368;
inline constexpr std::size_t kSongFileNameSlotBytes = 16;
inline constexpr std::size_t kSongFileNameBytes = 9;

constexpr std::size_t songFileNameOffset(int virtualTrack) {
    return kSongFileNamesOffset + kSongFileNameSlotBytes * static_cast<std::size_t>(virtualTrack);
}

static_assert(songFileNameOffset(kVirtualTracks) + 208 == kSongFileBytes);

}  // namespace korvo
