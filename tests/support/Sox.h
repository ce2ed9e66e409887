#pragma once
// sox and soxi as an independent reader and writer of WAV and AIFF files, for tests that check
// this project's wave files against another implementation.
//
//   KORVO_SKIP_WITHOUT_SOX();                              // skips the test when sox is missing
//   korvo::test::soxWrite(path, 2, 44100, interleaved);    // type from the extension
//   auto info = korvo::test::soxInfo(path);                // channels, rate, frames, bits
//   auto samples = korvo::test::soxReadSamples(path);      // interleaved 16-bit samples
//
// Samples travel between the test and sox as raw signed 16-bit little-endian files beside the
// wave file; sox runs without dithering, so 16-bit samples pass unchanged.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvo::test {

// Whether both sox and soxi can be run.
bool soxAvailable();

// What soxi reports about a file.
struct SoxInfo {
    int channels = 0;
    long sampleRate = 0;
    std::uint64_t frames = 0;
    int bits = 0;
    std::string type;  // "wav", "aiff", ...
};

// Writes `interleaved` (frames of `channels` samples) with sox to `path`; the file type comes
// from the extension (.wav, .aif, .aiff). `outputOptions` go before the output path, for
// example {"-b", "24"} or {"-e", "floating-point", "-b", "32"}.
bool soxWrite(const std::string& path, int channels, long sampleRate,
              const std::vector<std::int16_t>& interleaved,
              const std::vector<std::string>& outputOptions = {});

std::optional<SoxInfo> soxInfo(const std::string& path);

// The file's samples as sox decodes them, converted to signed 16-bit, interleaved.
std::optional<std::vector<std::int16_t>> soxReadSamples(const std::string& path);

}  // namespace korvo::test

#define KORVO_SKIP_WITHOUT_SOX()                                                       \
    do {                                                                               \
        if (!::korvo::test::soxAvailable()) {                                          \
            GTEST_SKIP() << "sox/soxi not installed (make deps installs them); skipping " \
                            "the cross-check against an independent implementation";  \
        }                                                                              \
    } while (false)
