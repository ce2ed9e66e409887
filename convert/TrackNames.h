#pragma once
// Names that an import gives the virtual tracks it writes: the wave file's name without its
// extension, with "-L"/"-R" (stereo) or "-k" (more channels) after it, at most 8 characters, in
// 7-bit ASCII so that the recorder can show it.

#include <cstddef>
#include <string>
#include <string_view>

#include "disk/Song.h"

namespace korvo {

// wavePath: the imported file; position: 0-based place of the virtual track among the selected
// ones; channels: the wave's channel count.
std::string importedTrackName(const std::string& wavePath, int position, int channels);

// Track names hold at most this many characters.
inline constexpr std::size_t kTrackNameLength = 8;

// True when the recorder can show every character: 7-bit ASCII only.
bool isRecorderDisplayable(std::string_view text);

// How users name a virtual track: "T.V", track and V.Track from 1.
std::string trackLabel(int virtualTrack);

// A file name a host can store: control characters, separators and the characters other
// systems refuse in names become '_'.
std::string hostFileName(const std::string& text);

// The file "export all" writes for a virtual track of the song: "T.V NAME" ("T.V" when it has
// no name) and the extension, made a host file name.
std::string exportAllFileName(const CSong& song, int virtualTrack, const std::string& extension);

// Replaces every character outside 7-bit ASCII (a whole UTF-8 sequence counts as one) by '_'.
std::string toRecorderCharacters(const std::string& text);

}  // namespace korvo
