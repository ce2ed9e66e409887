#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "codec/BlockDecoder.h"
#include "tests/codec/ReferenceBlock.h"

namespace korvo {
namespace {

using reference::HalfFields;
using reference::makeBlock;
using Samples = std::array<std::int16_t, 16>;

struct Decoded {
    Samples samples{};
    std::int32_t carried = 0;
    BlockDecoder state;
};

Decoded decode(const std::vector<std::uint8_t>& block, std::int32_t carried, int width) {
    Decoded d;
    d.carried = d.state.decode(block.data(), d.samples.data(), carried, width);
    return d;
}

std::vector<std::int64_t> zeros() { return std::vector<std::int64_t>(8, 0); }

TEST(BlockDecoder, AllZeroBlockIsModeEAndDrawsALineFromTheCarriedSampleToZero) {
    const std::vector<std::uint8_t> block(16, 0);
    const Decoded up = decode(block, 800, 8);
    EXPECT_EQ(up.state.mode, 'E');
    EXPECT_EQ(up.state.parameter, 2);
    EXPECT_EQ(up.samples, (Samples{700, 600, 500, 400, 300, 200, 100, 0}));
    EXPECT_EQ(up.carried, 0);

    // Every mean rounds towards minus infinity.
    const Decoded down = decode(block, -801, 8);
    EXPECT_EQ(down.samples,
              (Samples{-701, -601, -501, -401, -301, -201, -101, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(BlockDecoder, ModeAIsPlainPcmWithFineOddFields) {
    // Width 8, code EF: sample 7 field -128 / 127 (8 bits, fine), sample 6 field 63 (7 bits).
    std::vector<std::int64_t> first = zeros(), second = zeros();
    first[7] = -128;
    first[6] = 63;
    second[7] = 127;
    const Decoded d = decode(makeBlock(8, {"1110", first}, {"1111", second}), 12345, 8);
    EXPECT_EQ(d.state.mode, 'A');
    EXPECT_EQ(d.state.parameter, 13);
    EXPECT_EQ(d.samples[7], -32640);
    EXPECT_EQ(d.samples[6], 32512);
    EXPECT_EQ(d.samples[5], 128);  // fine zero field: half a fine step
    EXPECT_EQ(d.samples[4], 256);  // ordinary zero field: half an ordinary step
    EXPECT_EQ(d.samples[15], 32640);
    EXPECT_EQ(d.carried, 32640);
}

TEST(BlockDecoder, ModeBUsesTheCarriedSampleOnlyForSampleZero) {
    const std::vector<std::uint8_t> block = makeBlock(8, {"1110", zeros()}, {"1010", zeros()});
    const Decoded d = decode(block, 100, 8);
    EXPECT_EQ(d.state.mode, 'B');
    EXPECT_EQ(d.state.parameter, 8);
    EXPECT_EQ(d.samples, (Samples{8 + 54, 8, 16, 8, 16, 8, 16, 8, 16, 8, 16, 8, 16, 8, 16, 8}));
    EXPECT_EQ(d.state.halfStep, 8);
}

TEST(BlockDecoder, ModesDEAndFLimitSamplesTwoAndFourFromAboveOnly) {
    // E with p = 8 at width 8: step 16. Samples 7 near full scale, corrections of +31 steps on
    // the evens overflow the 16-bit range.
    std::vector<std::int64_t> first = {0, -1, 31, -1, 31, -1, 31, 2047};
    const Decoded e = decode(makeBlock(8, {"110", first}, {"110", zeros()}), 32760, 8);
    ASSERT_EQ(e.state.mode, 'E');
    ASSERT_EQ(e.state.parameter, 8);
    EXPECT_EQ(e.samples[7], 32760);
    EXPECT_EQ(e.samples[3], 32752);
    EXPECT_EQ(e.samples[1], 32748);
    EXPECT_EQ(e.samples[5], 32748);
    EXPECT_EQ(e.samples[0], 32762);
    EXPECT_EQ(e.samples[2], 32767);   // 33254 limited
    EXPECT_EQ(e.samples[4], 32767);   // 33254 limited
    EXPECT_EQ(e.samples[6], -32278);  // 33258 wraps

    // There is no lower limit: in mode D with p = 9 (step 32) sample 2 falls below -32768 and
    // wraps.
    std::vector<std::int64_t> low = {0, 0, -32, 0, 0, 0, 0, -1024};
    const Decoded d = decode(makeBlock(8, {"111", low}, {"100", zeros()}), -32768, 8);
    ASSERT_EQ(d.state.mode, 'D');
    ASSERT_EQ(d.state.parameter, 9);
    EXPECT_EQ(d.samples[7], -32752);
    EXPECT_EQ(d.samples[3], -32744);
    EXPECT_EQ(d.samples[1], -32740);
    EXPECT_EQ(d.samples[2], 31786);  // -1008 - 32742 = -33750 wraps

    // Mode B at p = 12 (step 256): the odds at the top, the evens overflow and wrap.
    std::vector<std::int64_t> b = {63, 127, 63, 127, 63, 127, 63, 127};
    const Decoded wrapped = decode(makeBlock(8, {"1110", b}, {"1110", b}), 0, 8);
    ASSERT_EQ(wrapped.state.mode, 'B');
    EXPECT_EQ(wrapped.samples[1], 32640);
    EXPECT_EQ(wrapped.samples[2], -16640);  // 16256 + 32640 wraps
    EXPECT_EQ(wrapped.samples[4], -16640);
}

TEST(BlockDecoder, LastByteOfAnOddWidthBlockBelongsToTheSecondHalf) {
    std::mt19937 random(7);
    for (int width : {5, 7}) {
        for (int trial = 0; trial < 200; ++trial) {
            std::vector<std::uint8_t> block(2 * width);
            for (auto& byte : block) byte = static_cast<std::uint8_t>(random());
            const std::int32_t carried = static_cast<std::int16_t>(random());
            const Decoded before = decode(block, carried, width);
            block.back() ^= static_cast<std::uint8_t>(1 + random() % 255);
            const Decoded after = decode(block, carried, width);
            for (int k = 0; k < 8; ++k) ASSERT_EQ(before.samples[k], after.samples[k]) << width;
        }
    }
}

TEST(BlockDecoder, WidthFourHalvesAreTheFirstAndLastFourBytes) {
    std::vector<std::uint8_t> block = {0xF0, 0, 0, 0, 0xF0, 0, 0, 0};
    const Decoded b = decode(block, 0, 4);
    EXPECT_EQ(b.state.mode, 'B');
    EXPECT_EQ(b.state.parameter, 12);
    block[0] = 0xE0;
    block[4] = 0xE0;
    const Decoded g = decode(block, 0, 4);
    EXPECT_EQ(g.state.mode, 'G');
    EXPECT_EQ(g.state.parameter, 0);
}

TEST(BlockDecoder, ModeGWithParameterMinusThreeKeepsOnlyTheSignOfTheNarrowFields) {
    // Width 8, code FD: p = -3, e = -7; the 7-bit fields shift out entirely.
    std::vector<std::int64_t> first = {-1, 63, -64, 1, -1, 0, 0, 1023};
    const Decoded d = decode(makeBlock(8, {"1111", first}, {"1101", zeros()}), 0, 8);
    ASSERT_EQ(d.state.mode, 'G');
    ASSERT_EQ(d.state.parameter, -3);
    // Sample 7: 1023 >> 7 = 7; the other fields contribute -1 or 0.
    EXPECT_EQ(d.samples, (Samples{-1, 1, 1, 3, 3, 5, 6, 7, 6, 5, 4, 3, 2, 1, 0, 0}));
}

// Every mode code at every width, with random fields and carried samples including ones far
// outside the 16-bit range, decodes exactly as the literal reading of the format.
TEST(BlockDecoder, EveryModeCodeAtEveryWidthMatchesTheLiteralReadingOfTheFormat) {
    std::mt19937 random(2024);
    const std::int32_t extremes[] = {0, 1, -1, 32767, -32768, std::numeric_limits<std::int32_t>::max(),
                                     std::numeric_limits<std::int32_t>::min()};
    for (int width = 4; width <= 8; ++width) {
        const int first = 0, second = width == 4 ? 4 : 2;
        for (unsigned code = 0; code < 256; ++code) {
            for (int trial = 0; trial < 12; ++trial) {
                std::vector<std::uint8_t> block(2 * width);
                for (auto& byte : block) byte = static_cast<std::uint8_t>(random());
                block[first] = static_cast<std::uint8_t>((block[first] & 0x0F) | (code & 0xF0));
                block[second] = static_cast<std::uint8_t>((block[second] & 0x0F) | (code << 4));
                const std::int32_t carried =
                    trial < 7 ? extremes[trial] : static_cast<std::int32_t>(random());
                const reference::Decoded expected = reference::decode(block.data(), carried, width);
                const Decoded actual = decode(block, carried, width);
                ASSERT_EQ(actual.state.mode, expected.mode.letter) << width << " " << code;
                ASSERT_EQ(actual.state.parameter, expected.mode.parameter) << width << " " << code;
                ASSERT_EQ(actual.carried, expected.carried) << width << " " << code;
                for (int k = 0; k < 16; ++k)
                    ASSERT_EQ(actual.samples[k], expected.samples[k])
                        << "width " << width << " code " << code << " sample " << k;
                const int count = (expected.mode.parameter + 4) & 31;
                EXPECT_EQ(actual.state.mask, static_cast<std::int32_t>(~0u << count) >> width);
                EXPECT_EQ(actual.state.halfStep, static_cast<std::int32_t>(1u << count) >> (width + 1));
            }
        }
    }
}

TEST(BlockDecoder, UnsupportedWidthGivesSilence) {
    std::vector<std::uint8_t> block(16, 0xFF);
    Decoded d;
    d.samples.fill(99);
    EXPECT_EQ(d.state.decode(block.data(), d.samples.data(), 500, 0), 0);
    EXPECT_EQ(d.samples, Samples{});
}

}  // namespace
}  // namespace korvo
