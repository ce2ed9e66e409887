#pragma once
// Recorder disks as FAT images for the window tests: a fixture folder copied file by file into
// a freshly formatted small FAT12 volume with 64 KiB clusters, so that imports can read the
// cluster chains of their new takes. Also a plain 16-bit PCM RIFF WAVE writer.

#include <cstdint>
#include <string>
#include <vector>

namespace korvo::test {

bool copyFolderToImage(const std::string& folder, const std::string& imagePath);

// A mono or stereo 16-bit wave of `frames` frames of a quiet saw tooth.
bool writePcmWave(const std::string& path, int channels, std::uint32_t sampleRate,
                  std::uint32_t frames);

}  // namespace korvo::test
