#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "codec/BlockBuffer.h"

namespace korvo {
namespace {

TEST(BlockBuffer, SizesFollowTheBlockWidth) {
    for (int width = 4; width <= 8; ++width) {
        const BlockBuffer buffer(width);
        EXPECT_EQ(buffer.width(), width);
        EXPECT_EQ(buffer.byteCount(), 2 * width);
        EXPECT_EQ(BlockBuffer::sampleCount(), 16);
    }
    // An unknown data type gives width 0; no width may lead past the byte array.
    for (int width : {0, 3, 9, 100, -1}) {
        const BlockBuffer buffer(width);
        EXPECT_EQ(buffer.width(), 0) << width;
        EXPECT_EQ(buffer.byteCount(), 0) << width;
    }
}

TEST(BlockBuffer, ResetGivesSilenceThatTheNextBlockStartsFrom) {
    BlockBuffer buffer(6);
    for (int k = 0; k < 16; ++k)
        buffer.samples[k] = static_cast<std::int16_t>(1000 * k - 7000);
    buffer.encode();
    ASSERT_NE(buffer.carried, 0);

    buffer.reset();
    EXPECT_EQ(buffer.carried, 0);
    EXPECT_EQ(buffer.samples, (std::array<std::int16_t, 16>{}));
    EXPECT_EQ(buffer.bytes, (std::array<std::uint8_t, 16>{}));
    // The reset bytes decode (mode E, p = 2, carried 0) to silence.
    buffer.decode();
    EXPECT_EQ(buffer.samples, (std::array<std::int16_t, 16>{}));
    EXPECT_EQ(buffer.carried, 0);
}

TEST(BlockBuffer, ClearingTheSamplesKeepsTheCarriedSample) {
    BlockBuffer buffer(5);
    buffer.samples.fill(1234);
    buffer.encode();
    const std::int32_t carried = buffer.carried;
    buffer.clearSamples();
    EXPECT_EQ(buffer.carried, carried);
    EXPECT_EQ(buffer.samples, (std::array<std::int16_t, 16>{}));
}

TEST(BlockBuffer, ExportAndImportBuffersStayInStepAcrossBlocks) {
    // One buffer encodes a channel, another decodes its bytes: their carried samples agree after
    // every block, so a take plays back what the import reconstructed.
    BlockBuffer import(4), exporter(4);
    for (int block = 0; block < 200; ++block) {
        for (int k = 0; k < 16; ++k)
            import.samples[k] = static_cast<std::int16_t>(((block * 16 + k) * 977) % 50000 - 25000);
        import.encode();
        exporter.bytes = import.bytes;
        exporter.decode();
        ASSERT_EQ(exporter.carried, import.carried) << block;
        for (int k = 0; k < 16; ++k)
            ASSERT_EQ(exporter.samples[k], import.encoder.reconstructed[k]) << block;
    }
}

TEST(BlockBuffer, RunsGoOnFromTheCarriedSampleOfTheRunBefore) {
    // A channel encoded and decoded in two runs of uneven length gives the bytes and samples of
    // block-by-block calls, for every width and for a buffer without codec.
    constexpr int kBlocks = 37, kSplit = 13;
    for (int width : {4, 5, 6, 7, 8, 0}) {
        std::vector<std::int16_t> in(kBlocks * 16);
        for (std::size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<std::int16_t>((i * 7919) % 60000 - 30000);
        BlockBuffer single(width), runs(width);
        const std::size_t bytes = single.byteCount();
        std::vector<std::uint8_t> expected(kBlocks * bytes), actual(kBlocks * bytes + 1, 0xEE);
        for (int b = 0; b < kBlocks; ++b) {
            std::copy_n(&in[b * 16], 16, single.samples.begin());
            single.encode();
            std::copy_n(single.bytes.begin(), bytes, expected.data() + b * bytes);
        }
        runs.encodeRun(in.data(), actual.data(), kSplit);
        runs.encodeRun(&in[kSplit * 16], &actual[kSplit * bytes], kBlocks - kSplit);
        EXPECT_EQ(runs.carried, single.carried) << width;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), actual.begin())) << width;
        EXPECT_EQ(actual.back(), 0xEE) << width;

        BlockBuffer decoding(width);
        std::vector<std::int16_t> out(kBlocks * 16);
        decoding.decodeRun(expected.data(), out.data(), kSplit);
        decoding.decodeRun(expected.data() + kSplit * bytes, &out[kSplit * 16], kBlocks - kSplit);
        single.reset();
        for (int b = 0; b < kBlocks; ++b) {
            std::copy_n(expected.data() + b * bytes, bytes, single.bytes.begin());
            single.decode();
            for (int k = 0; k < 16; ++k)
                ASSERT_EQ(out[b * 16 + k], single.samples[k]) << width;
        }
        EXPECT_EQ(decoding.carried, single.carried) << width;
    }
}

}  // namespace
}  // namespace korvo
