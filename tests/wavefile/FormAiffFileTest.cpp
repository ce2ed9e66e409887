#include "wavefile/FormAiffFile.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/wavefile/WaveFixtures.h"
#include "wavefile/ExtendedFloat.h"

namespace korvo::test {
namespace {

using KorvoLib::Korvo::IWaveFile;
using KorvoLib::Korvo::kWaveTypeAiff;
using KorvoLib::Korvo::makeWaveFile;
using KorvoLib::Korvo::WaveFormat;

Bytes extendedBytes(double value) {
    const auto e = KorvoLib::toExtended(value);
    return Bytes(e.begin(), e.end());
}

Bytes commonBody(std::uint16_t channels, std::uint32_t frames, const Bytes& rate) {
    return ByteWriter{true, {}}.u16(channels).u32(frames).u16(16).raw(rate).bytes;
}

Bytes soundData(std::uint32_t offset, const std::vector<std::int16_t>& samples) {
    return ByteWriter{true, {}}.u32(offset).u32(0).raw(bigSamples(samples)).bytes;
}

class FormAiffFile : public ::testing::Test {
protected:
    std::optional<WaveFormat> headerOf(const Bytes& bytes) {
        saveBytes(path, bytes);
        auto file = makeWaveFile(kWaveTypeAiff);
        WaveFormat format;
        if (!file->open(path, IWaveFile::kRead) || !file->readHeader(format)) {
            return std::nullopt;
        }
        return format;
    }

    ScratchFolder folder{"aiff"};
    std::string path = folder.file("wave.aiff");
};

TEST_F(FormAiffFile, ExportWritesTheFiftyFourByteHeaderAndBigEndianSamples) {
    const auto samples = testSamples(2 * 16);
    ASSERT_TRUE(exportWave(kWaveTypeAiff, path, 2, 44100, samples, 16));

    ByteWriter expected{true, {}};
    expected.text("FORM").u32(54 - 8 + 64).text("AIFF");
    expected.text("COMM").u32(18).u16(2).u32(16).u16(16);
    expected.raw({0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0});
    expected.text("SSND").u32(8 + 64).u32(0).u32(0).raw(bigSamples(samples));
    EXPECT_EQ(loadBytes(path), expected.bytes);

    auto wave = importWave(path);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->format.channels, 2);
    EXPECT_EQ(wave->format.sampleRate, 44100u);
    EXPECT_EQ(wave->format.frames, 16u);
    EXPECT_EQ(wave->interleaved, samples);
}

TEST_F(FormAiffFile, EveryIntegerRateRoundTripsExactly) {
    for (std::uint32_t rate : {0u, 1u, 8000u, 22050u, 32000u, 44100u, 48000u, 96000u, 192000u,
                               0x7FFFFFFFu, 0xFFFFFFFFu}) {
        auto file = makeWaveFile(kWaveTypeAiff);
        ASSERT_TRUE(file->open(path, IWaveFile::kCreate));
        ASSERT_TRUE(file->writeHeader({1, rate, 0}));
        ASSERT_TRUE(file->close());
        WaveFormat format;
        ASSERT_TRUE(file->open(path, IWaveFile::kRead));
        ASSERT_TRUE(file->readHeader(format)) << rate;
        EXPECT_EQ(format.sampleRate, rate);
    }
    EXPECT_EQ(extendedBytes(48000), (Bytes{0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(extendedBytes(32000), (Bytes{0x40, 0x0D, 0xFA, 0x00, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(extendedBytes(0), Bytes(10, 0));
}

TEST_F(FormAiffFile, FractionalRatesAreTruncated) {
    for (const auto& [rate, expected] : {std::pair{44099.7, 44099u}, std::pair{0.9, 0u},
                                         std::pair{-0.5, 0u}, std::pair{47999.999999, 47999u}}) {
        const auto format = headerOf(container(true, "FORM", "AIFF",
                                               {chunk(true, "COMM", commonBody(1, 0, extendedBytes(rate))),
                                                chunk(true, "SSND", soundData(0, {}))}));
        ASSERT_TRUE(format) << rate;
        EXPECT_EQ(format->sampleRate, expected) << rate;
    }
}

TEST_F(FormAiffFile, ExtendedValuesBeyondADoubleStillDecode) {
    // A denormal extended rate is a tiny positive number; a huge exponent is refused.
    const Bytes tiny{0x00, 0x00, 0x40, 0, 0, 0, 0, 0, 0, 0};
    const Bytes huge{0x7F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(KorvoLib::fromExtended(tiny.data()), 0.0);
    EXPECT_TRUE(std::isinf(KorvoLib::fromExtended(huge.data())));
    EXPECT_EQ(headerOf(container(true, "FORM", "AIFF", {chunk(true, "COMM", commonBody(1, 0, tiny)),
                                                        chunk(true, "SSND", soundData(0, {}))}))
                  ->sampleRate,
              0u);
    EXPECT_FALSE(headerOf(container(true, "FORM", "AIFF", {chunk(true, "COMM", commonBody(1, 0, huge)),
                                                           chunk(true, "SSND", soundData(0, {}))})));
}

TEST_F(FormAiffFile, FrameCountComesFromTheSoundDataSizeAndItsOffsetIsNotApplied) {
    // "COMM" claims 1000 frames and "SSND" an offset of 4; the samples start right after the
    // block size field and there are as many frames as "SSND" holds.
    const auto samples = testSamples(2 * 7);
    const Bytes comment = chunk(true, "COMT", Bytes(5, 'c'));  // odd size, pad byte
    saveBytes(path, container(true, "FORM", "AIFF",
                              {comment, chunk(true, "COMM", commonBody(2, 1000, extendedBytes(32000))),
                               comment, chunk(true, "SSND", soundData(4, samples))}));
    auto wave = importWave(path);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->format.frames, 7u);
    EXPECT_EQ(wave->format.sampleRate, 32000u);
    EXPECT_EQ(wave->interleaved, samples);
}

TEST_F(FormAiffFile, HeaderWithoutChannelsReadsWithoutFrames) {
    const auto format = headerOf(container(true, "FORM", "AIFF",
                                           {chunk(true, "COMM", commonBody(0, 16, extendedBytes(44100))),
                                            chunk(true, "SSND", soundData(0, testSamples(32)))}));
    ASSERT_TRUE(format);
    EXPECT_EQ(format->channels, 0);
    EXPECT_EQ(format->frames, 0u);
}

TEST_F(FormAiffFile, DataPositionOutsideReadModeCountsFromTheHeaderEnd) {
    auto file = makeWaveFile(kWaveTypeAiff);
    EXPECT_EQ(file->headerSize(), 54u);
    EXPECT_EQ(file->neededSize(1, 2, 4), 54u + 64);
    BlockBuffer buffer(5);
    buffer.samples.fill(0x1234);
    BlockBuffer* buffers[1] = {&buffer};
    ASSERT_TRUE(file->open(path, IWaveFile::kCreate));
    ASSERT_TRUE(file->setDataPosition(32));  // leaves block 0 as a hole of zeros
    ASSERT_TRUE(file->writeBlock(buffers, 1));
    ASSERT_TRUE(file->rewind());
    ASSERT_TRUE(file->writeHeader({1, 48000, 32}));
    ASSERT_TRUE(file->close());
    auto wave = importWave(path);
    ASSERT_TRUE(wave);
    ASSERT_EQ(wave->interleaved.size(), 32u);
    EXPECT_EQ(wave->interleaved[15], 0);
    EXPECT_EQ(wave->interleaved[16], 0x1234);
    const Bytes bytes = loadBytes(path);
    EXPECT_EQ(bytes[54 + 32], 0x12);  // big-endian
    EXPECT_EQ(bytes[54 + 33], 0x34);
}

TEST_F(FormAiffFile, ChannelCountsBeyondTheSignedFieldAreRefused) {
    auto file = makeWaveFile(kWaveTypeAiff);
    ASSERT_TRUE(file->open(path, IWaveFile::kCreate));
    EXPECT_FALSE(file->writeHeader({40000, 44100, 0}));
    EXPECT_TRUE(file->writeHeader({32767, 44100, 0}));
}

}  // namespace
}  // namespace korvo::test
