#pragma once
// An export's FLAC file: 16-bit samples written a block at a time through libsndfile, with the
// exported tracks' names as the title tag. FLAC files carry their length in the stream, so the
// export's closing header write (kUpdate) only checks that the format is the one written.

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

#include "wavefile/WaveFile.h"

namespace korvo::transcode {

class CFlacWriter final : public KorvoLib::Korvo::IWaveFile {
public:
    CFlacWriter(std::uint32_t sampleRate, std::uint16_t channels, std::string title);
    ~CFlacWriter() override;
    CFlacWriter(const CFlacWriter&) = delete;
    CFlacWriter& operator=(const CFlacWriter&) = delete;

    // The raw sample size plus room for the stream's headers: FLAC never stores a block in
    // more than its raw size and a few bytes of frame header.
    std::uint64_t neededSize(std::uint16_t channels, std::uint32_t startBlock,
                             std::uint32_t endBlock) const override;
    bool open(const std::string& path, int mode) override;
    bool rewind() override { return false; }
    bool setDataPosition(std::uint64_t byteOffset) override;
    bool readFrames(korvo::BlockBuffer* const*, int, int) override { return false; }
    bool readHeader(KorvoLib::Korvo::WaveFormat&) override { return false; }
    bool writeBlock(korvo::BlockBuffer* const* buffers, int channels) override;
    bool writeHeader(const KorvoLib::Korvo::WaveFormat& format) override;
    bool close() override;
    std::uint32_t headerSize() const override { return 0; }

private:
    std::uint32_t rate_;
    std::uint16_t channels_;
    std::string title_;
    SNDFILE* file_ = nullptr;
    bool updating_ = false;
    std::vector<short> block_;
};

}  // namespace korvo::transcode
