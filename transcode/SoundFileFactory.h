#pragma once
// The conversion front's wave files for the engine: import of any format libsndfile reads
// (WAV including extensible, RF64 and W64, AIFF and AIFF-C, FLAC, Ogg Vorbis and Opus, CAF ...)
// at any rate and depth, and FLAC export.
//
//   converter.setWaveFileFactory(korvo::transcode::makeSoundFileFactory());

#include <memory>

#include "convert/WaveFileFactory.h"

namespace korvo::transcode {

class CSoundFileFactory final : public IWaveFileFactory {
public:
    bool inspect(const std::string& path, SourceFormat& format) override;
    std::unique_ptr<KorvoLib::Korvo::IWaveFile> makeReader(
        std::uint32_t sampleRate, const std::vector<std::uint16_t>& channels) override;
    std::unique_ptr<KorvoLib::Korvo::IWaveFile> makeWriter(int fileType, std::uint32_t sampleRate,
                                                           std::uint16_t channels,
                                                           const std::string& title) override;
};

std::shared_ptr<IWaveFileFactory> makeSoundFileFactory();

// "48000 Hz, 24-bit": a file's rate and samples as the import question and messages name them.
std::string describeSource(const SourceFormat& format);

}  // namespace korvo::transcode
