#pragma once
// A wave file in any format libsndfile decodes, presented to the engine as a 16-bit wave at the
// song's sample rate: the chosen channels, resampled by soxr at very high quality when the rates
// differ, reduced to 16 bits with triangular (TPDF) dither. A 16-bit linear source at the song's
// rate is passed through sample for sample, without dither. It reads in runs of a few thousand
// frames, so memory stays the same whatever the file's length.
//
//   CConvertingReader reader(44100, {0, 1});
//   reader.open(path, IWaveFile::kRead); reader.readHeader(format);  // converted length
//   for each block: reader.readFrames(buffers, format.channels, 16);

#include <sndfile.h>
#include <soxr.h>

#include <cstdint>
#include <string>
#include <vector>

#include "transcode/Dither.h"
#include "wavefile/WaveFile.h"

namespace korvo::transcode {

class CConvertingReader final : public KorvoLib::Korvo::IWaveFile {
public:
    // channels: the source's channels to present, 0-based; empty for all of them.
    CConvertingReader(std::uint32_t sampleRate, std::vector<std::uint16_t> channels);
    ~CConvertingReader() override;
    CConvertingReader(const CConvertingReader&) = delete;
    CConvertingReader& operator=(const CConvertingReader&) = delete;

    std::uint64_t neededSize(std::uint16_t channels, std::uint32_t startBlock,
                             std::uint32_t endBlock) const override;
    bool open(const std::string& path, int mode) override;
    bool rewind() override;
    // The byte offset counts 16-bit frames of the presented channels, as in a 16-bit wave.
    bool setDataPosition(std::uint64_t byteOffset) override;
    bool readFrames(korvo::BlockBuffer* const* buffers, int channels, int count) override;
    bool readHeader(KorvoLib::Korvo::WaveFormat& format) override;
    bool writeBlock(korvo::BlockBuffer* const*, int) override { return false; }
    bool writeHeader(const KorvoLib::Korvo::WaveFormat&) override { return false; }
    bool close() override;
    std::uint32_t headerSize() const override { return 0; }

private:
    // Converts the next run of the source into pending_; false on a read or resampler error.
    bool refill();
    void appendConverted(const float* samples, std::size_t frames);

    std::uint32_t rate_;
    std::vector<std::uint16_t> picks_;
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    soxr_t resampler_ = nullptr;
    bool passThrough_ = false;
    bool wholeSamples_ = false;  // converted samples need no dither
    bool sourceDone_ = false;
    bool failed_ = false;
    std::uint64_t frames_ = 0;     // presented length
    std::uint64_t delivered_ = 0;  // frames handed out so far
    std::uint64_t produced_ = 0;   // frames put into pending_ so far
    std::vector<short> sourceShorts_;
    std::vector<float> sourceFloats_;
    std::vector<float> picked_;
    std::vector<float> resampled_;
    std::size_t resampledCapacity_ = 0;  // frames
    std::vector<std::int16_t> pending_;  // interleaved, presented channels
    std::size_t pendingRead_ = 0;        // samples
    CTpdfDither dither_;
};

}  // namespace korvo::transcode
