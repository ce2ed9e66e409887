#pragma once
// Wave files as the conversion engine sees them: 16-bit linear PCM in a RIFF WAVE or an AIFF
// file, read and written a block of 16 frames at a time through the channels' block buffers.
//
// Export:  auto file = makeWaveFile(kWaveTypeRiff);
//          file->open(path, IWaveFile::kCreate); file->setDataPosition(0);
//          for each block: file->writeBlock(buffers, channels);
//          (or for each run of frames: file->writeRun(channelSamples, channels, frames);)
//          file->close(); file->open(path, IWaveFile::kUpdate); file->writeHeader(description);
//          file->close();
// Import:  file->open(path, IWaveFile::kRead); file->readHeader(description);
//          file->setDataPosition(firstBlock * channels * 32);
//          for each block: file->readFrames(buffers, channels, 16);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace korvo {
class BlockBuffer;
}

namespace KorvoLib::Korvo {

// Channel count, sample rate and sample frame count of a wave file.
struct WaveFormat {
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t frames = 0;
};

// File types as the wave file dialogs number their filter rows.
inline constexpr int kWaveTypeRiff = 0;
inline constexpr int kWaveTypeAiff = 1;
// FLAC: written only through a wave-file factory of a front end (makeWaveFile gives null).
inline constexpr int kWaveTypeFlac = 2;

class IWaveFile {
public:
    enum Mode : int { kRead = 1, kCreate = 2, kUpdate = 3 };

    virtual ~IWaveFile() = default;

    // Header size + channels x blocks x 32 bytes, for blocks [startBlock, endBlock).
    virtual std::uint64_t neededSize(std::uint16_t channels, std::uint32_t startBlock,
                                     std::uint32_t endBlock) const = 0;
    virtual bool open(const std::string& path, int mode) = 0;
    virtual bool rewind() = 0;
    // kRead: first sample of the sample data plus the offset; otherwise header size + offset.
    virtual bool setDataPosition(std::uint64_t byteOffset) = 0;
    // Frame i of every channel c into buffers[c]->samples[i] (a null buffer reads into a
    // scratch value); count is at most 16. buffers has `channels` entries, the file's count.
    virtual bool readFrames(korvo::BlockBuffer* const* buffers, int channels, int count) = 0;
    virtual bool readHeader(WaveFormat& format) = 0;
    // The 16 samples of every channel's buffer, interleaved.
    virtual bool writeBlock(korvo::BlockBuffer* const* buffers, int channels) = 0;
    // Runs of frames, a channel's samples consecutive in one array each: `frames` frames from
    // the file into channels[c][0 .. frames) (a null array skips the channel), or from the
    // arrays into the file, interleaved (a null array writes silence). The RIFF WAVE and AIFF
    // files move a run in slices of their scratch buffer and allocate nothing; the defaults
    // here go a block at a time through readFrames and writeBlock for other wave files
    // (writeRun then takes whole blocks only).
    virtual bool readRun(std::int16_t* const* channels, int channelCount, std::size_t frames);
    virtual bool writeRun(const std::int16_t* const* channels, int channelCount,
                          std::size_t frames);
    // Rebuilds the whole header from the format and writes it at the start of the file.
    virtual bool writeHeader(const WaveFormat& format) = 0;
    virtual bool close() = 0;
    virtual std::uint32_t headerSize() const = 0;
};

// A RIFF WAVE (kWaveTypeRiff) or AIFF (kWaveTypeAiff) file object; null for other types.
std::unique_ptr<IWaveFile> makeWaveFile(int fileType);

// The type of an existing file from its first 12 bytes: kWaveTypeRiff for "RIFF"...."WAVE",
// kWaveTypeAiff for "FORM"...."AIFF", -1 for anything else or an unreadable file.
int recognizeWaveFileType(const std::string& path);

// Writes a whole wave file of `frames` interleaved frames the way an export does: the samples
// through block buffers a block at a time (a partial last block padded, then cut back by the
// header's frame count), then the header. False when any step fails.
bool writeInterleavedWave(const std::string& path, int fileType, std::uint16_t channels,
                          std::uint32_t sampleRate, const std::int16_t* interleaved,
                          std::size_t frames);

}  // namespace KorvoLib::Korvo
