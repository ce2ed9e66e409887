#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "codec/BlockDecoder.h"
#include "codec/BlockEncoder.h"

namespace korvo {
namespace {

using Samples = std::array<std::int16_t, 16>;
using Bytes = std::vector<std::uint8_t>;

struct Encoded {
    Bytes bytes;
    std::int32_t carried = 0;
    BlockEncoder state;
};

Encoded encode(const Samples& in, std::int32_t carried, int width) {
    Encoded e;
    std::array<std::uint8_t, 16> out{};
    e.carried = e.state.encode(in.data(), out.data(), carried, width);
    e.bytes.assign(out.begin(), out.begin() + 2 * width);
    return e;
}

// Decodes with the same carried sample and checks the closed loop: the decoder reproduces the
// encoder's reconstruction, mode and parameter.
Samples decodeAndCheck(const Encoded& e, std::int32_t carried, int width) {
    BlockDecoder decoder;
    Samples out{};
    const std::int32_t back = decoder.decode(e.bytes.data(), out.data(), carried, width);
    EXPECT_EQ(back, e.carried);
    EXPECT_EQ(decoder.mode, e.state.mode);
    EXPECT_EQ(decoder.parameter, e.state.parameter);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(out[k], e.state.reconstructed[k]) << "sample " << k;
    return out;
}

TEST(BlockEncoder, SilenceEncodesToTheSmallestStepOfEachWidth) {
    struct Expected {
        int width;
        char mode;
        int parameter;
        Bytes bytes;
    };
    const Expected cases[] = {
        {8, 'D', 4, {0xC0, 0, 0xE0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {6, 'E', 2, Bytes(12, 0)},
        {5, 'F', 1, {0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {4, 'F', 0, {0xC0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Expected& c : cases) {
        const Encoded e = encode(Samples{}, 0, c.width);
        EXPECT_EQ(e.state.mode, c.mode) << c.width;
        EXPECT_EQ(e.state.parameter, c.parameter) << c.width;
        EXPECT_EQ(e.bytes, c.bytes) << c.width;
        EXPECT_EQ(decodeAndCheck(e, 0, c.width), Samples{}) << c.width;
    }
}

TEST(BlockEncoder, LoudSquareWavesArePlainPcm) {
    // Per width: the reconstruction of +30000 in an ordinary and in a fine field (mode A).
    struct Levels {
        int width;
        std::int16_t ordinary, fine;
    };
    const Levels levels[] = {{4, 28672, 30720}, {5, 30720, 29696}, {6, 29696, 30208},
                             {8, 29952, 30080}};
    for (int period : {1, 2}) {
        Samples in{};
        for (int k = 0; k < 16; ++k) in[k] = (k / period) % 2 == 0 ? 30000 : -30000;
        for (const Levels& l : levels) {
            const Encoded e = encode(in, 0, l.width);
            ASSERT_EQ(e.state.mode, 'A') << l.width << " " << period;
            ASSERT_EQ(e.state.parameter, 13);
            const Samples out = decodeAndCheck(e, 0, l.width);
            for (int k = 0; k < 16; ++k) {
                const int s = k % 8;
                const bool fine = l.width == 4 ? (s == 7 || s % 2 == 0) : s % 2 == 1;
                const int magnitude = fine ? l.fine : l.ordinary;
                EXPECT_EQ(out[k], in[k] > 0 ? magnitude : -magnitude)
                    << "width " << l.width << " sample " << k;
            }
        }
    }
}

TEST(BlockEncoder, CorrectionLandingOnMinus32768BetweenTwoOddNeighboursMovesUpOneStep) {
    // Width 8, mode F with p = 6: step 4. In the first half sample 0 is predicted from the
    // carried sample -32765 and sample 1's reconstruction -32767, both odd: its correction
    // would reconstruct -32768 and is raised by one step to -32764. Sample 2, predicted from
    // -32767 and -32764, does reconstruct -32768.
    const Samples in = {-32767, -32766, -32768, -32764, -32764, -32768, -32763, -32767,
                        -32766, -32768, -32767, -32765, -32763, -32763, -32763, -32764};
    const Encoded e = encode(in, -32765, 8);
    ASSERT_EQ(e.state.mode, 'F');
    ASSERT_EQ(e.state.parameter, 6);
    EXPECT_EQ(decodeAndCheck(e, -32765, 8),
              (Samples{-32764, -32767, -32768, -32764, -32764, -32767, -32761, -32766, -32765,
                       -32768, -32765, -32766, -32762, -32762, -32764, -32762}));
}

TEST(BlockEncoder, FullScaleBlocksNeverWrapToTheOtherSide) {
    for (const std::int16_t level : {std::int16_t{32767}, std::int16_t{-32768}}) {
        Samples in;
        in.fill(level);
        for (int width : {4, 5, 6, 7, 8}) {
            for (const std::int32_t carried : {0, 32767, -32768}) {
                const Encoded e = encode(in, carried, width);
                const Samples out = decodeAndCheck(e, carried, width);
                const int step = 1 << (e.state.parameter - width + 4);
                for (int k = 0; k < 16; ++k) {
                    EXPECT_LE(std::abs(out[k] - level), step)
                        << "width " << width << " carried " << carried << " sample " << k;
                }
            }
        }
    }
}

TEST(BlockEncoder, CarriedSamplesFarOutsideTheSampleRangeStillGiveAValidBlock) {
    // The codec never hands on such a carried sample; encoding must still end and yield a
    // block that decodes to what the encoder reconstructed.
    const Samples in = {100, -200, 300, -400, 500, -600, 700, -800,
                        900, -1000, 1100, -1200, 1300, -1400, 1500, -1600};
    const std::int32_t carried[] = {std::numeric_limits<std::int32_t>::max(),
                                    std::numeric_limits<std::int32_t>::min(),
                                    1 << 30,
                                    -(1 << 30) - 12345,
                                    1 << 20};
    for (const std::int32_t c : carried) {
        for (int width : {4, 5, 6, 7, 8}) {
            const Encoded e = encode(in, c, width);
            EXPECT_EQ(e.state.mode, 'A') << c << " " << width;
            decodeAndCheck(e, c, width);
        }
    }
}

TEST(BlockEncoder, UnsupportedWidthWritesNothing) {
    BlockEncoder encoder;
    std::array<std::uint8_t, 16> out;
    out.fill(0x5A);
    const Samples in{};
    EXPECT_EQ(encoder.encode(in.data(), out.data(), 77, 0), 0);
    for (auto byte : out) EXPECT_EQ(byte, 0x5A);
}

}  // namespace
}  // namespace korvo
