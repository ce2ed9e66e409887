// Runs of blocks, as the conversion engine moves them: every kernel decodes and encodes a run
// exactly as the one-block calls and the literal reading of the format do, including the blocks
// at the end of a run that the kernels read and write through a copy.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "codec/BlockDecoder.h"
#include "codec/BlockEncoder.h"
#include "codec/Kernel.h"
#include "tests/codec/ReferenceBlock.h"
#include "tests/codec/TestSignals.h"

namespace korvo {
namespace {

using block::Kernel;

constexpr Kernel kKernels[] = {Kernel::Portable, Kernel::Avx2};
constexpr std::int32_t kExtremes[] = {0,
                                      32767,
                                      -32768,
                                      std::numeric_limits<std::int32_t>::max(),
                                      std::numeric_limits<std::int32_t>::min(),
                                      1 << 30};

// Every mode code at every width, first in runs of 1 to 40 blocks of random codes whose first
// carried sample is sometimes far outside the 16-bit range: samples, carried sample and final
// state match the reference decoding block after block, and nothing is written past the run.
TEST(CodecRun, DecodingARunMatchesTheReferenceBlockByBlockWithEveryKernel) {
    for (const Kernel kernel : kKernels) {
        if (!block::kernelAvailable(kernel))
            continue;
        std::mt19937 random(99);
        for (int width = 4; width <= 8; ++width) {
            const int second = width == 4 ? 4 : 2;
            for (unsigned code = 0; code < 256; ++code) {
                const std::size_t blocks = 1 + random() % 40;
                std::vector<std::uint8_t> bytes(blocks * 2 * width);
                for (auto& byte : bytes)
                    byte = static_cast<std::uint8_t>(random());
                for (std::size_t b = 0; b < blocks; ++b) {
                    const unsigned c = b == 0 ? code : random() % 256;
                    std::uint8_t* block = &bytes[b * 2 * width];
                    block[0] = static_cast<std::uint8_t>((block[0] & 0x0F) | (c & 0xF0));
                    block[second] = static_cast<std::uint8_t>((block[second] & 0x0F) | (c << 4));
                }
                const std::int32_t first = code % 3 == 0
                                               ? kExtremes[random() % std::size(kExtremes)]
                                               : static_cast<std::int16_t>(random());
                std::vector<std::int16_t> out(blocks * 16 + 8, 0x5A5A);
                BlockDecoder decoder;
                const std::int32_t carried =
                    decoder.decodeRun(bytes.data(), out.data(), blocks, first, width, kernel);

                std::int32_t expectedCarried = first;
                BlockDecoder perBlock;
                for (std::size_t b = 0; b < blocks; ++b) {
                    const reference::Decoded expected =
                        reference::decode(&bytes[b * 2 * width], expectedCarried, width);
                    for (int k = 0; k < 16; ++k)
                        ASSERT_EQ(out[b * 16 + k], expected.samples[k])
                            << "kernel " << int(kernel) << " width " << width << " code " << code
                            << " block " << b << " sample " << k;
                    expectedCarried = expected.carried;
                    std::array<std::int16_t, 16> one{};
                    perBlock.decode(&bytes[b * 2 * width], one.data(), 0, width);
                }
                ASSERT_EQ(carried, expectedCarried) << width << " " << code;
                EXPECT_EQ(decoder.mode, perBlock.mode);
                EXPECT_EQ(decoder.parameter, perBlock.parameter);
                EXPECT_EQ(decoder.mask, perBlock.mask);
                EXPECT_EQ(decoder.halfStep, perBlock.halfStep);
                // An empty run changes nothing.
                EXPECT_EQ(decoder.decodeRun(bytes.data(), out.data(), 0, first, width, kernel),
                          first);
                EXPECT_EQ(decoder.mode, perBlock.mode);
                for (int k = 0; k < 8; ++k)
                    ASSERT_EQ(out[blocks * 16 + k], 0x5A5A);
            }
        }
    }
}

// Varied signals with restarts from carried samples far outside the range, in runs of 1 to 60
// blocks: with every kernel the bytes and carried samples are those of the literal encoder block
// after block, a run decodes back to the encoder's reconstruction, and nothing is written past
// the run.
TEST(CodecRun, EncodingARunMatchesTheReferenceBlockByBlockWithEveryKernel) {
    for (const Kernel encoding : kKernels) {
        if (!block::kernelAvailable(encoding))
            continue;
        for (int width : {4, 5, 6, 7, 8}) {
            SignalSource source(500 + static_cast<std::uint64_t>(width));
            std::mt19937 random(static_cast<unsigned>(width));
            for (int run = 0; run < 300; ++run) {
                const std::size_t blocks = 1 + random() % 60;
                std::vector<std::int16_t> in(blocks * 16);
                for (std::size_t b = 0; b < blocks; ++b)
                    source.next(&in[b * 16]);
                const std::int32_t first = run % 4 == 0 ? kExtremes[random() % std::size(kExtremes)]
                                                        : static_cast<std::int16_t>(random());
                std::vector<std::uint8_t> bytes(blocks * 2 * width + 16, 0xA5);
                BlockEncoder encoder;
                const std::int32_t carried =
                    encoder.encodeRun(in.data(), bytes.data(), blocks, first, width, encoding);

                std::int32_t expectedCarried = first;
                BlockEncoder perBlock;
                for (std::size_t b = 0; b < blocks; ++b) {
                    const reference::Encoded expected =
                        reference::encode(&in[b * 16], expectedCarried, width);
                    const std::vector<std::uint8_t> actual(
                        bytes.begin() + static_cast<long>(b * 2 * width),
                        bytes.begin() + static_cast<long>((b + 1) * 2 * width));
                    ASSERT_EQ(actual, expected.bytes) << "kernel " << int(encoding) << " width "
                                                      << width << " run " << run << " block " << b;
                    std::array<std::uint8_t, 16> one{};
                    ASSERT_EQ(perBlock.encode(&in[b * 16], one.data(), expectedCarried, width),
                              expected.carried);
                    expectedCarried = expected.carried;
                }
                ASSERT_EQ(carried, expectedCarried);
                for (int k = 0; k < 16; ++k) {
                    ASSERT_EQ(bytes[blocks * 2 * width + k], 0xA5);
                    ASSERT_EQ(encoder.reconstructed[k], perBlock.reconstructed[k]);
                }
                EXPECT_EQ(encoder.mode, perBlock.mode);
                EXPECT_EQ(encoder.parameter, perBlock.parameter);
                for (int l = 0; l < 6; ++l)
                    EXPECT_EQ(encoder.levels[l], perBlock.levels[l]);

                for (const Kernel kernel : kKernels) {
                    std::vector<std::int16_t> out(blocks * 16);
                    BlockDecoder decoder;
                    EXPECT_EQ(
                        decoder.decodeRun(bytes.data(), out.data(), blocks, first, width, kernel),
                        carried);
                    for (int k = 0; k < 16; ++k)
                        ASSERT_EQ(out[(blocks - 1) * 16 + k], encoder.reconstructed[k]);
                }
            }
        }
    }
}

// Blocks of one level each, the level jumping by about a power of two: whether a block's mode
// holds depends on the exact carried sample of the block before, so in a long run the blocks'
// choices settle one after another. Every kernel gives the literal encoder's bytes.
TEST(CodecRun, EncodingJumpsBetweenLevelsMatchesTheReferenceWithEveryKernel) {
    constexpr std::size_t kBlocks = 8 * 1000 + 3;
    std::mt19937 random(7);
    std::vector<std::int16_t> in(kBlocks * 16);
    int level = 0;
    for (std::size_t b = 0; b < kBlocks; ++b) {
        const int jump = (1 << (6 + random() % 9)) + static_cast<int>(random() % 17) - 8;
        level = std::clamp(level + ((random() & 1) != 0 ? jump : -jump), -32768, 32767);
        std::fill_n(&in[b * 16], 16, static_cast<std::int16_t>(level));
    }
    for (int width : {4, 5, 6, 8}) {
        std::vector<std::uint8_t> expected;
        std::int32_t expectedCarried = 0;
        for (std::size_t b = 0; b < kBlocks; ++b) {
            const reference::Encoded block = reference::encode(&in[b * 16], expectedCarried, width);
            expected.insert(expected.end(), block.bytes.begin(), block.bytes.end());
            expectedCarried = block.carried;
        }
        for (const Kernel kernel : kKernels) {
            if (!block::kernelAvailable(kernel))
                continue;
            std::vector<std::uint8_t> bytes(kBlocks * 2 * width);
            BlockEncoder encoder;
            EXPECT_EQ(encoder.encodeRun(in.data(), bytes.data(), kBlocks, 0, width, kernel),
                      expectedCarried);
            EXPECT_EQ(bytes, expected) << "kernel " << int(kernel) << " width " << width;
        }
    }
}

}  // namespace
}  // namespace korvo
