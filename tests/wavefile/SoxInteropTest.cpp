// Cross-checks against sox, an independent reader and writer of WAV and AIFF files: what this
// library writes sox reads with the same header values and samples, and the other way round.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/Sox.h"
#include "tests/wavefile/WaveFixtures.h"

namespace korvo::test {
namespace {

using KorvoLib::Korvo::IWaveFile;
using KorvoLib::Korvo::kWaveTypeAiff;
using KorvoLib::Korvo::kWaveTypeRiff;
using KorvoLib::Korvo::makeWaveFile;
using KorvoLib::Korvo::WaveFormat;

struct Kind {
    int type;
    const char* extension;
    const char* soxType;
};
constexpr Kind kKinds[] = {{kWaveTypeRiff, ".wav", "wav"}, {kWaveTypeAiff, ".aiff", "aiff"}};
constexpr std::uint32_t kRates[] = {32000, 44100, 48000};

TEST(SoxInterop, SoxReadsOurFilesWithTheSameFormatAndSamples) {
    KORVO_SKIP_WITHOUT_SOX();
    ScratchFolder folder("sox-ours");
    for (const Kind& kind : kKinds) {
        for (int channels : {1, 2}) {
            for (std::uint32_t rate : kRates) {
                for (std::uint32_t frames : {0u, 37u, 64u}) {
                    SCOPED_TRACE(std::string(kind.soxType) + " " + std::to_string(channels) + "ch " +
                                 std::to_string(rate) + " Hz " + std::to_string(frames) + " frames");
                    const std::string path = folder.file("ours" + std::string(kind.extension));
                    const auto samples = testSamples(frames * channels, rate + frames);
                    ASSERT_TRUE(exportWave(kind.type, path, channels, rate, samples, frames));
                    // The file object writes whole blocks; cut the padding of the last one so
                    // that the file holds exactly the frames its header states.
                    const auto header = makeWaveFile(kind.type)->headerSize();
                    std::filesystem::resize_file(path, header + 2ull * channels * frames);

                    if (kind.type == kWaveTypeAiff && frames == 0) {
                        // sox refuses every AIFF without sample frames, its own included
                        // ("Missing SSND chunk"), so it cannot judge this one.
                        continue;
                    }
                    const auto info = soxInfo(path);
                    ASSERT_TRUE(info);
                    EXPECT_EQ(info->type, kind.soxType);
                    EXPECT_EQ(info->channels, channels);
                    EXPECT_EQ(info->sampleRate, static_cast<long>(rate));
                    EXPECT_EQ(info->frames, frames);
                    EXPECT_EQ(info->bits, 16);
                    EXPECT_EQ(soxReadSamples(path), samples);
                }
            }
        }
    }
}

TEST(SoxInterop, WeReadSoxFilesWithTheSameFormatAndSamples) {
    KORVO_SKIP_WITHOUT_SOX();
    ScratchFolder folder("sox-theirs");
    for (const Kind& kind : kKinds) {
        for (int channels : {1, 2}) {
            for (std::uint32_t rate : kRates) {
                for (std::uint32_t frames : {0u, 37u, 1000u}) {
                    SCOPED_TRACE(std::string(kind.soxType) + " " + std::to_string(channels) + "ch " +
                                 std::to_string(rate) + " Hz " + std::to_string(frames) + " frames");
                    const std::string path = folder.file("sox" + std::string(kind.extension));
                    const auto samples = testSamples(frames * channels, rate * 3 + frames);
                    ASSERT_TRUE(soxWrite(path, channels, rate, samples));
                    ASSERT_EQ(KorvoLib::Korvo::recognizeWaveFileType(path), kind.type);
                    const auto wave = importWave(path);
                    ASSERT_TRUE(wave);
                    EXPECT_EQ(wave->format.channels, channels);
                    EXPECT_EQ(wave->format.sampleRate, rate);
                    EXPECT_EQ(wave->format.frames, frames);
                    EXPECT_EQ(wave->interleaved, samples);
                }
            }
        }
    }
}

// Inserts `extra` before the chunk at `at` and corrects the RIFF size.
Bytes withChunkAt(Bytes wave, std::size_t at, const Bytes& extra) {
    wave.insert(wave.begin() + static_cast<std::ptrdiff_t>(at), extra.begin(), extra.end());
    const std::uint32_t size = static_cast<std::uint32_t>(wave.size() - 8);
    for (int i = 0; i < 4; ++i) {
        wave[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    }
    return wave;
}

TEST(SoxInterop, ChunksBeforeAndBetweenFormatAndDataArePassedOver) {
    KORVO_SKIP_WITHOUT_SOX();
    ScratchFolder folder("sox-list");
    const std::string path = folder.file("list.wav");
    const auto samples = testSamples(2 * 101, 9);
    ASSERT_TRUE(soxWrite(path, 2, 44100, samples));
    Bytes wave = loadBytes(path);
    ASSERT_EQ(Bytes(wave.begin() + 12, wave.begin() + 16), (Bytes{'f', 'm', 't', ' '}));
    const std::uint32_t formatSize = wave[16] | (wave[17] << 8);
    const std::size_t dataAt = 20 + formatSize;

    // An odd-sized "LIST" between "fmt " and "data" (with its pad byte), an even one before
    // "fmt ".
    const Bytes odd = chunk(false, "LIST", ByteWriter{}.text("INFOICMT").u32(3).text("odd").bytes);
    const Bytes even = chunk(false, "LIST", ByteWriter{}.text("INFOISFT").u32(6).text("korvo\0").bytes);
    ASSERT_EQ(odd.size() % 2, 0u);
    ASSERT_EQ((odd[4] | (odd[5] << 8)) % 2, 1);
    wave = withChunkAt(withChunkAt(wave, dataAt, odd), 12, even);
    saveBytes(path, wave);

    // sox, the oracle, still reads the file as before...
    const auto info = soxInfo(path);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->frames, 101u);
    ASSERT_EQ(soxReadSamples(path), samples);
    // ...and so do we.
    const auto imported = importWave(path);
    ASSERT_TRUE(imported);
    EXPECT_EQ(imported->format.channels, 2);
    EXPECT_EQ(imported->format.sampleRate, 44100u);
    EXPECT_EQ(imported->format.frames, 101u);
    EXPECT_EQ(imported->interleaved, samples);
}

TEST(SoxInterop, SoxFilesWithOtherSampleFormatsAreRefused) {
    KORVO_SKIP_WITHOUT_SOX();
    ScratchFolder folder("sox-formats");
    const std::vector<std::vector<std::string>> formats = {
        {"-b", "8"}, {"-b", "24"}, {"-b", "32"}, {"-e", "floating-point", "-b", "32"}};
    for (const Kind& kind : kKinds) {
        for (const auto& options : formats) {
            if (kind.type == kWaveTypeAiff && options[1] == "floating-point") {
                continue;  // sox writes no floating-point AIFF
            }
            SCOPED_TRACE(std::string(kind.soxType) + " " + options.back() + " " + options[1]);
            const std::string path = folder.file("other" + std::string(kind.extension));
            ASSERT_TRUE(soxWrite(path, 2, 44100, testSamples(2 * 40), options));
            auto file = makeWaveFile(kind.type);
            WaveFormat format;
            ASSERT_TRUE(file->open(path, IWaveFile::kRead));
            EXPECT_FALSE(file->readHeader(format));
        }
    }
}

}  // namespace
}  // namespace korvo::test
