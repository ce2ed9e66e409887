#pragma once
// Wave files beyond the engine's own 16-bit RIFF WAVE and AIFF readers and writers. A front end
// that decodes other formats, converts sample rates and depths or writes other formats gives the
// converter a factory (CTrackConverter::setWaveFileFactory); the engine keeps reading and writing
// through IWaveFile alone and knows nothing of the codecs behind it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wavefile/WaveFile.h"

namespace korvo {

// A file as the factory's decoder sees it.
struct SourceFormat {
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint64_t frames = 0;
    // Whole 16-bit linear samples: with the song's rate nothing about them has to change.
    bool linear16 = false;
    // "16-bit", "24-bit", "32-bit float", "Vorbis" ...: for messages.
    std::string encoding;
};

class IWaveFileFactory {
public:
    virtual ~IWaveFileFactory() = default;

    // What `path` holds; false when the decoder cannot read it.
    virtual bool inspect(const std::string& path, SourceFormat& format) = 0;
    // A reader (IWaveFile in kRead mode) that presents the file's `channels` (0-based, in that
    // order; all when empty) as 16-bit frames at `sampleRate`. A 16-bit linear source at that
    // rate passes unchanged; anything else is resampled and reduced to 16 bits with dither.
    // readHeader gives the presented channels, the rate and the converted length.
    virtual std::unique_ptr<KorvoLib::Korvo::IWaveFile> makeReader(
        std::uint32_t sampleRate, const std::vector<std::uint16_t>& channels) = 0;
    // A writer (IWaveFile in kCreate and kUpdate modes, used as an export uses it) for a file
    // type the engine's own writers do not make; null for a type the factory does not know.
    // `title` goes into the file's tags.
    virtual std::unique_ptr<KorvoLib::Korvo::IWaveFile> makeWriter(int fileType,
                                                                   std::uint32_t sampleRate,
                                                                   std::uint16_t channels,
                                                                   const std::string& title) = 0;
};

// How the next import treats its file.
struct ImportChoice {
    // Samples may change: another rate or depth is converted rather than refused.
    bool convert = false;
    // The file's channels to import, 0-based; empty for all of them.
    std::vector<std::uint16_t> channels;
};

}  // namespace korvo
