#pragma once
// Names that an import gives the virtual tracks it writes: the wave file's name without its
// extension, with "-L"/"-R" (stereo) or "-k" (more channels) after it, at most 8 characters, in
// 7-bit ASCII so that the recorder can show it.

#include <string>

namespace korvo {

// wavePath: the imported file; position: 0-based place of the virtual track among the selected
// ones; channels: the wave's channel count.
std::string importedTrackName(const std::string& wavePath, int position, int channels);

// Replaces every character outside 7-bit ASCII (a whole UTF-8 sequence counts as one) by '_'.
std::string toRecorderCharacters(const std::string& text);

}  // namespace korvo
