#pragma once
// The demo disk: a small FAT image holding a recorder disk with a demo song of synthesised
// music on a few virtual tracks, and an empty song to import into, so that a new user can try
// every command without a recorder.

#include <string>

namespace korvo {

// Writes the image; false with a message on failure.
bool makeDemoDisk(const std::string& imagePath, std::string& message);

}  // namespace korvo
