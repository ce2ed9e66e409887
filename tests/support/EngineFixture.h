#pragma once
// Shared pieces of the export and import tests: audio encoded into take blocks with the real
// encoder, the samples an export must produce from them, a converter on a fixture disk, and a
// progress sink that presses Cancel.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/BlockBuffer.h"
#include "convert/ProgressUI.h"
#include "convert/TrackConverter.h"
#include "disk/DiskFiles.h"
#include "tests/support/DiskFixture.h"

namespace korvo::test {

// A music-like mono signal of `blocks` blocks (a few mixed sines and a little noise).
std::vector<std::int16_t> musicSignal(std::uint32_t blocks, std::uint32_t seed = 1);

// The signal encoded block by block (carried sample passed on), 2w bytes per block.
std::vector<Bytes> encodeBlocks(const std::vector<std::int16_t>& samples, int width);

// What the decoder gives for the blocks, in order from carried sample 0.
std::vector<std::int16_t> decodeBlocks(const std::vector<Bytes>& blocks, int width);

// -x, with -32768 becoming 32767.
std::int16_t inverted(std::int16_t sample);

// Interleaved samples of a wave file, read with our own reader.
struct WaveContents {
    bool ok = false;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::vector<std::int16_t> samples;  // interleaved
};
WaveContents readWave(const std::string& path);
// Writes interleaved samples with our own writer (RIFF WAVE or AIFF).
bool writeWave(const std::string& path, std::uint16_t channels, std::uint32_t sampleRate,
               const std::vector<std::int16_t>& interleaved,
               int fileType = KorvoLib::Korvo::kWaveTypeRiff);

// Answers step() with false from the given position on, and notes where it did and whether
// the positions only ever rose.
class CancellingProgress : public KorvoLib::Korvo::IProgressUI {
public:
    explicit CancellingProgress(std::int32_t cancelAt) : cancelAt_(cancelAt) {}
    void begin(std::int32_t low, std::int32_t high) override {
        low_ = low;
        high_ = high;
    }
    bool step(std::int32_t position) override {
        ++steps_;
        rising_ = rising_ && position > last_;
        last_ = position;
        if (position < cancelAt_) {
            return true;
        }
        if (cancelledAt_ < 0) {
            cancelledAt_ = position;
        }
        return false;
    }
    void setText(const std::string&) override {}
    int steps() const { return steps_; }
    std::int32_t low() const { return low_; }
    std::int32_t high() const { return high_; }
    // The position of the first step answered with false; -1 when none was.
    std::int32_t cancelledAt() const { return cancelledAt_; }
    bool rising() const { return rising_; }

private:
    std::int32_t cancelAt_;
    std::int32_t low_ = -1;
    std::int32_t high_ = -1;
    std::int32_t last_ = -1;
    std::int32_t cancelledAt_ = -1;
    bool rising_ = true;
    int steps_ = 0;
};

// Passes everything to a disk the test owns, so the converter can be given a disk with chosen
// failures (FaultyDiskFiles) while the test keeps control of it.
class DiskReference final : public IDiskFiles {
public:
    explicit DiskReference(IDiskFiles& disk) : disk_(disk) {}
    DiskKind kind() const override { return disk_.kind(); }
    const std::string& rootPath() const override { return disk_.rootPath(); }
    FileExistence exists(std::string_view path) override { return disk_.exists(path); }
    std::unique_ptr<IDiskStream> open(std::string_view path, OpenMode mode) override {
        return disk_.open(path, mode);
    }
    bool rename(std::string_view from, std::string_view to) override {
        return disk_.rename(from, to);
    }
    bool remove(std::string_view path) override { return disk_.remove(path); }
    std::optional<std::vector<std::string>> listFiles(std::string_view path) override {
        return disk_.listFiles(path);
    }
    bool syncFolder(std::string_view path) override { return disk_.syncFolder(path); }
    std::optional<std::uint64_t> freeBytes() override { return disk_.freeBytes(); }
    bool checkVolume(std::string& reason) override { return disk_.checkVolume(reason); }
    bool clusterChain(std::string_view path, std::vector<std::uint16_t>& chain) override {
        return disk_.clusterChain(path, chain);
    }

private:
    IDiskFiles& disk_;
};

// A converter on the disk with its song list read and the song loaded.
std::unique_ptr<CTrackConverter> converterOn(const std::string& root, SongNumber song,
                                             IDiskFiles* replacement = nullptr);

}  // namespace korvo::test
