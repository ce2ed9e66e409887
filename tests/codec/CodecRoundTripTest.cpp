// Round trips over a million blocks of varied signals: whatever the encoder writes, the decoder
// reproduces the encoder's own reconstruction and carried sample, in the mode and parameter
// the encoder chose; and the bytes are those of the step-by-step description of the encoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>
#include <sstream>
#include <string>

#include "codec/BlockBuffer.h"
#include "tests/codec/ReferenceBlock.h"
#include "tests/codec/TestSignals.h"

#if defined(__SANITIZE_ADDRESS__)
#define KORVO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVO_SANITIZED 1
#endif
#endif

namespace korvo {
namespace {

#ifdef KORVO_SANITIZED
constexpr int kBlocksPerWidth = 50000;
#else
constexpr int kBlocksPerWidth = 250000;
#endif

// Indices of the neighbours a corrected sample is predicted from (-1 is the carried sample), or
// nothing for a directly coded sample.
bool correctionNeighbours(char mode, int parameter, int k, int& u, int& w) {
    const bool odd3 = mode == 'B' || mode == 'C' || (mode == 'D' && parameter == 10);
    if (mode == 'A' || k == 7) return false;
    if (k == 3) {
        if (odd3) return false;
        u = -1, w = 7;
        return true;
    }
    if ((k == 1 || k == 5) && mode == 'B') return false;
    u = k == 0 ? -1 : k - 1;
    w = k + 1;
    if (k == 1) u = -1, w = 3;
    if (k == 5) u = 3, w = 7;
    return true;
}

TEST(CodecRoundTrip, DecoderReproducesTheEncodersReconstructionOverAMillionBlocks) {
    for (int width : {4, 5, 6, 7, 8}) {
        SignalSource source(1000 + static_cast<std::uint64_t>(width));
        std::mt19937 random(static_cast<unsigned>(width));
        BlockBuffer encoding(width);
        BlockBuffer decoding(width);
        std::array<int, 8> modes{};
        long failures = 0;
        std::string firstFailure;
        for (int block = 0; block < kBlocksPerWidth; ++block) {
            source.next(encoding.samples.data());
            // Now and then the channel restarts from silence or from another block's sample.
            if (random() % 64 == 0) encoding.carried = 0;
            if (random() % 64 == 0) encoding.carried = static_cast<std::int16_t>(random());
            const std::int32_t carried = encoding.carried;
            encoding.encode();

            decoding.bytes = encoding.bytes;
            decoding.carried = carried;
            decoding.decode();

            const BlockEncoder& e = encoding.encoder;
            const char mode = static_cast<char>(e.mode);
            bool ok = decoding.carried == encoding.carried && decoding.decoder.mode == e.mode &&
                      decoding.decoder.parameter == e.parameter && mode >= 'A' && mode <= 'F' &&
                      (width != 4 || mode != 'B' || e.parameter == 12);
            for (int k = 0; k < 16 && ok; ++k) {
                const std::int32_t r = e.reconstructed[k];
                ok = r >= -32768 && r <= 32767 && decoding.samples[k] == r;
                // A corrected sample never rests on -32768 between two odd neighbours.
                int u = 0, w = 0;
                const int half = k & 8;
                if (ok && r == -32768 && correctionNeighbours(mode, e.parameter, k & 7, u, w)) {
                    const std::int32_t nu = u < 0 ? (half ? e.reconstructed[7] : carried)
                                                  : e.reconstructed[half + u];
                    const std::int32_t nw = e.reconstructed[half + w];
                    ok = (nu & nw & 1) == 0;
                }
            }
            // Sample 15 is coded directly: within half a step of the input.
            const int shift = e.parameter - width + 4 - (mode == 'A' ? 1 : 0);
            const int halfStep = shift > 0 ? 1 << (shift - 1) : 0;
            ok = ok && std::abs(encoding.carried - encoding.samples[15]) <= halfStep;
            if (!ok && failures++ == 0) {
                std::ostringstream text;
                text << "width " << width << " block " << block << " carried " << carried
                     << " mode " << mode << " p " << e.parameter << " input";
                for (auto s : encoding.samples) text << ' ' << s;
                firstFailure = text.str();
            }
            ++modes[std::clamp(mode - 'A', 0, 7)];
        }
        EXPECT_EQ(failures, 0) << firstFailure;
        for (int m = 0; m < 6; ++m)
            EXPECT_GT(modes[m], 0) << "mode " << char('A' + m) << " never chosen at width " << width;
        EXPECT_EQ(modes[6], 0) << "mode G chosen at width " << width;
    }
}

TEST(CodecRoundTrip, EncoderWritesTheBytesOfTheStepByStepDescription) {
    for (int width : {4, 5, 6, 7, 8}) {
        SignalSource source(77 + static_cast<std::uint64_t>(width));
        BlockBuffer buffer(width);
        for (int block = 0; block < kBlocksPerWidth / 25; ++block) {
            source.next(buffer.samples.data());
            const std::int32_t carried = buffer.carried;
            const reference::Encoded expected =
                reference::encode(buffer.samples.data(), carried, width);
            buffer.encode();
            const std::vector<std::uint8_t> actual(buffer.bytes.begin(),
                                                   buffer.bytes.begin() + buffer.byteCount());
            ASSERT_EQ(actual, expected.bytes) << "width " << width << " block " << block;
            ASSERT_EQ(buffer.carried, expected.carried) << "width " << width << " block " << block;
            ASSERT_EQ(buffer.encoder.mode, expected.mode);
            ASSERT_EQ(buffer.encoder.parameter, expected.parameter);
        }
    }
}

}  // namespace
}  // namespace korvo
