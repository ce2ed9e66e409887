#include "wavefile/RiffWaveFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/wavefile/WaveFixtures.h"

namespace korvo::test {
namespace {

using KorvoLib::Korvo::IWaveFile;
using KorvoLib::Korvo::kWaveTypeRiff;
using KorvoLib::Korvo::makeWaveFile;
using KorvoLib::Korvo::WaveFormat;

Bytes riffWave(const std::vector<Bytes>& children) {
    return container(false, "RIFF", "WAVE", children);
}

Bytes pcmWave(std::uint16_t channels, std::uint32_t rate, const std::vector<std::int16_t>& s) {
    return riffWave({chunk(false, "fmt ", riffFormatBody(1, channels, rate, 16)),
                     chunk(false, "data", littleSamples(s))});
}

std::optional<WaveFormat> headerOf(const std::string& path) {
    auto file = makeWaveFile(kWaveTypeRiff);
    WaveFormat format;
    if (!file->open(path, IWaveFile::kRead) || !file->readHeader(format)) {
        return std::nullopt;
    }
    return format;
}

class RiffWaveFile : public ::testing::Test {
protected:
    ScratchFolder folder{"riff"};
    std::string path = folder.file("wave.wav");
};

TEST_F(RiffWaveFile, ExportWritesTheFortySixByteHeaderAndInterleavedLittleEndianSamples) {
    const auto samples = testSamples(2 * 32);
    ASSERT_TRUE(exportWave(kWaveTypeRiff, path, 2, 44100, samples, 32));

    ByteWriter expected;
    expected.text("RIFF").u32(46 - 8 + 128).text("WAVE");
    expected.text("fmt ").u32(18).u16(1).u16(2).u32(44100).u32(176400).u16(4).u16(16).u16(0);
    expected.text("data").u32(128).raw(littleSamples(samples));
    EXPECT_EQ(loadBytes(path), expected.bytes);
}

TEST_F(RiffWaveFile, HeaderWrittenAfterTheSamplesLeavesThemUntouched) {
    const auto samples = testSamples(3 * 48, 7);
    ASSERT_TRUE(exportWave(kWaveTypeRiff, path, 3, 32000, samples, 48));
    const Bytes bytes = loadBytes(path);
    ASSERT_EQ(bytes.size(), 46u + samples.size() * 2);
    EXPECT_EQ(Bytes(bytes.begin() + 46, bytes.end()), littleSamples(samples));

    auto wave = importWave(path);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->format.channels, 3);
    EXPECT_EQ(wave->format.sampleRate, 32000u);
    EXPECT_EQ(wave->format.frames, 48u);
    EXPECT_EQ(wave->interleaved, samples);
}

TEST_F(RiffWaveFile, CancelledExportHeaderStatesOnlyTheFramesWritten) {
    // The export rewrites the header with fewer frames than a first header claimed.
    const auto samples = testSamples(64);
    ASSERT_TRUE(exportWave(kWaveTypeRiff, path, 1, 48000, samples, 64));
    auto file = makeWaveFile(kWaveTypeRiff);
    ASSERT_TRUE(file->open(path, IWaveFile::kUpdate));
    ASSERT_TRUE(file->writeHeader({1, 48000, 32}));
    ASSERT_TRUE(file->close());
    EXPECT_EQ(headerOf(path)->frames, 32u);
}

TEST_F(RiffWaveFile, NeededSizeIsHeaderPlusThirtyTwoBytesPerChannelBlock) {
    auto file = makeWaveFile(kWaveTypeRiff);
    EXPECT_EQ(file->headerSize(), 46u);
    EXPECT_EQ(file->neededSize(2, 0, 100), 46u + 2 * 100 * 32);
    EXPECT_EQ(file->neededSize(1, 10, 10), 46u);
    EXPECT_EQ(file->neededSize(2, 0, 0xFFFFFFFFu), 46u + 64ull * 0xFFFFFFFFull);
    EXPECT_EQ(file->neededSize(2, 10, 5), 46u);  // an empty range, not a wrapped one
}

TEST_F(RiffWaveFile, ReadingTakesShortFormatChunkAndPassesOverOtherChunks) {
    const auto samples = testSamples(2 * 20);
    const Bytes list = chunk(false, "LIST", ByteWriter{}.text("INFOISFT").u32(5).text("korvo").bytes);
    const Bytes odd = chunk(false, "junk", Bytes{1, 2, 3});  // odd size, one pad byte
    saveBytes(path, riffWave({list, chunk(false, "fmt ", riffFormatBody(1, 2, 48000, 16, false)),
                              odd, list, chunk(false, "data", littleSamples(samples)), list}));
    auto wave = importWave(path);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->format.channels, 2);
    EXPECT_EQ(wave->format.sampleRate, 48000u);
    EXPECT_EQ(wave->format.frames, 20u);
    EXPECT_EQ(wave->interleaved, samples);
}

TEST_F(RiffWaveFile, OnlyTheFirstFormatAndDataChunksCount) {
    const auto first = testSamples(8, 1);
    saveBytes(path, riffWave({chunk(false, "fmt ", riffFormatBody(1, 1, 44100, 16)),
                              chunk(false, "data", littleSamples(first)),
                              chunk(false, "fmt ", riffFormatBody(1, 2, 8000, 16)),
                              chunk(false, "data", littleSamples(testSamples(40, 2)))}));
    auto wave = importWave(path);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->format.channels, 1);
    EXPECT_EQ(wave->format.sampleRate, 44100u);
    EXPECT_EQ(wave->interleaved, first);
}

TEST_F(RiffWaveFile, FrameCountRoundsDownToWholeFrames) {
    // 3 channels, 11 samples and an odd trailing byte: 3 whole frames.
    Bytes data = littleSamples(testSamples(11));
    data.push_back(0x55);
    saveBytes(path, riffWave({chunk(false, "fmt ", riffFormatBody(1, 3, 44100, 16)),
                              chunk(false, "data", data)}));
    EXPECT_EQ(headerOf(path)->frames, 3u);
}

TEST_F(RiffWaveFile, HeaderWithoutChannelsReadsWithoutFrames) {
    // Import refuses it by its channel count; the header read must not divide by zero.
    saveBytes(path, riffWave({chunk(false, "fmt ", riffFormatBody(1, 0, 44100, 16)),
                              chunk(false, "data", littleSamples(testSamples(32)))}));
    const auto format = headerOf(path);
    ASSERT_TRUE(format);
    EXPECT_EQ(format->channels, 0);
    EXPECT_EQ(format->frames, 0u);
    EXPECT_EQ(format->sampleRate, 44100u);
}

TEST_F(RiffWaveFile, DataPositionInReadModeIsRelativeToTheFirstSample) {
    const auto samples = testSamples(2 * 64);
    saveBytes(path, riffWave({chunk(false, "LIST", Bytes(6, 'x')),
                              chunk(false, "fmt ", riffFormatBody(1, 2, 44100, 16)),
                              chunk(false, "data", littleSamples(samples))}));
    auto file = makeWaveFile(kWaveTypeRiff);
    ASSERT_TRUE(file->open(path, IWaveFile::kRead));
    ASSERT_TRUE(file->setDataPosition(1 * 2 * 32));  // block 1 of a two-channel wave

    BlockBuffer right(5);
    BlockBuffer* buffers[2] = {nullptr, &right};  // the left channel has no buffer
    ASSERT_TRUE(file->readFrames(buffers, 2, 16));
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(right.samples[i], samples[(16 + i) * 2 + 1]) << i;
    }
}

TEST_F(RiffWaveFile, ReadingStopsAtTheEndOfTheSampleData) {
    // A chunk after the samples is never handed out as samples.
    const auto samples = testSamples(20);
    saveBytes(path, riffWave({chunk(false, "fmt ", riffFormatBody(1, 1, 44100, 16)),
                              chunk(false, "data", littleSamples(samples)),
                              chunk(false, "LIST", Bytes(64, 'x'))}));
    auto file = makeWaveFile(kWaveTypeRiff);
    BlockBuffer buffer(5);
    BlockBuffer* buffers[1] = {&buffer};
    ASSERT_TRUE(file->open(path, IWaveFile::kRead));
    ASSERT_TRUE(file->setDataPosition(0));
    EXPECT_TRUE(file->readFrames(buffers, 1, 16));
    EXPECT_FALSE(file->readFrames(buffers, 1, 16));
    EXPECT_TRUE(file->readFrames(buffers, 1, 4));
    EXPECT_FALSE(file->setDataPosition(42));
    EXPECT_TRUE(file->setDataPosition(40));
    EXPECT_TRUE(file->readFrames(buffers, 1, 0));
}

TEST_F(RiffWaveFile, CallsOutsideTheirRangeFailCleanly) {
    auto file = makeWaveFile(kWaveTypeRiff);
    BlockBuffer buffer(5);
    BlockBuffer* buffers[1] = {&buffer};
    WaveFormat format;
    // Nothing open.
    EXPECT_FALSE(file->readFrames(buffers, 1, 16));
    EXPECT_FALSE(file->writeBlock(buffers, 1));
    EXPECT_FALSE(file->readHeader(format));
    EXPECT_FALSE(file->writeHeader(format));
    EXPECT_FALSE(file->setDataPosition(0));
    EXPECT_FALSE(file->rewind());
    EXPECT_TRUE(file->close());
    EXPECT_FALSE(file->open(path, 4));
    EXPECT_FALSE(file->open(folder.file("missing.wav"), IWaveFile::kRead));
    EXPECT_FALSE(file->open(folder.file("missing.wav"), IWaveFile::kUpdate));

    saveBytes(path, pcmWave(1, 44100, testSamples(64)));
    ASSERT_TRUE(file->open(path, IWaveFile::kRead));
    ASSERT_TRUE(file->setDataPosition(0));
    EXPECT_FALSE(file->readFrames(buffers, 1, 17));
    EXPECT_FALSE(file->readFrames(buffers, 1, -1));
    EXPECT_FALSE(file->readFrames(buffers, 0, 16));
    EXPECT_FALSE(file->readFrames(nullptr, 1, 16));
    EXPECT_FALSE(file->writeBlock(buffers, 1));  // read mode
    EXPECT_FALSE(file->writeHeader({1, 44100, 64}));
    EXPECT_EQ(loadBytes(path), pcmWave(1, 44100, testSamples(64)));
}

TEST_F(RiffWaveFile, HeaderThatCannotHoldTheSamplesIsRefusedUnwritten) {
    auto file = makeWaveFile(kWaveTypeRiff);
    ASSERT_TRUE(file->open(path, IWaveFile::kCreate));
    EXPECT_FALSE(file->writeHeader({2, 44100, 0x20000000u}));  // 2 GiB of samples
    EXPECT_TRUE(file->writeHeader({2, 44100, 0x1FFFFFF0u}));
    ASSERT_TRUE(file->close());
    EXPECT_EQ(loadBytes(path).size(), 46u);  // the samples were never written
}

TEST_F(RiffWaveFile, BlockWriteWithoutABufferWritesSilence) {
    BlockBuffer left(5);
    left.samples.fill(-5);
    BlockBuffer* buffers[2] = {&left, nullptr};
    auto file = makeWaveFile(kWaveTypeRiff);
    ASSERT_TRUE(file->open(path, IWaveFile::kCreate));
    ASSERT_TRUE(file->setDataPosition(0));
    ASSERT_TRUE(file->writeBlock(buffers, 2));
    ASSERT_TRUE(file->close());
    const Bytes bytes = loadBytes(path);
    ASSERT_EQ(bytes.size(), 46u + 64);
    std::vector<std::int16_t> expected;
    for (int i = 0; i < 16; ++i) {
        expected.insert(expected.end(), {-5, 0});
    }
    EXPECT_EQ(Bytes(bytes.begin() + 46, bytes.end()), littleSamples(expected));
}

TEST_F(RiffWaveFile, ManyChannelsPassThroughTheScratchBufferInRuns) {
    // More channels than fit the file object's scratch buffer for a whole block.
    constexpr int kChannels = 300;
    const auto samples = testSamples(kChannels * 16, 3);
    ASSERT_TRUE(exportWave(kWaveTypeRiff, path, kChannels, 44100, samples, 16));
    auto wave = importWave(path);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->interleaved, samples);
}

TEST(WaveFileKind, IsRecognisedFromTheFirstTwelveBytes) {
    using KorvoLib::Korvo::recognizeWaveFileType;
    ScratchFolder folder("kind");
    const std::string path = folder.file("x");
    saveBytes(path, ByteWriter{}.text("RIFF").u32(4).text("WAVE").bytes);
    EXPECT_EQ(recognizeWaveFileType(path), KorvoLib::Korvo::kWaveTypeRiff);
    saveBytes(path, ByteWriter{true, {}}.text("FORM").u32(4).text("AIFF").bytes);
    EXPECT_EQ(recognizeWaveFileType(path), KorvoLib::Korvo::kWaveTypeAiff);
    const std::vector<Bytes> others = {
        ByteWriter{}.text("RIFF").u32(4).text("AVI ").bytes,
        ByteWriter{true, {}}.text("FORM").u32(4).text("AIFC").bytes,
        ByteWriter{}.text("RIFX").u32(4).text("WAVE").bytes,
        ByteWriter{}.text("riff").u32(4).text("wave").bytes,
        ByteWriter{}.text("RIFF").u32(4).text("WAV").bytes,  // too short
    };
    for (const Bytes& other : others) {
        saveBytes(path, other);
        EXPECT_EQ(recognizeWaveFileType(path), -1);
    }
    EXPECT_EQ(recognizeWaveFileType(folder.file("missing")), -1);
    EXPECT_EQ(recognizeWaveFileType(std::filesystem::temp_directory_path().string()), -1);
    EXPECT_EQ(makeWaveFile(2), nullptr);
    EXPECT_EQ(makeWaveFile(-1), nullptr);
}

}  // namespace
}  // namespace korvo::test
