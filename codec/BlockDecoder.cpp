#include "codec/BlockDecoder.h"

#include <algorithm>
#include <array>
#include <limits>

#include "codec/BlockFormat.h"
#include "codec/Prediction.h"

namespace korvo {
namespace {

using block::Layout;
using block::Prediction;

// Everything the decoder needs for one mode code at one width, worked out at compile time.
// A half's bit string sits at the top of a 64-bit word. Sample k's contribution is
//   ((word << up[k]) >> down[k]) & keep[k] | half[k]   (arithmetic shift right)
// which places the field so that its lowest bit has weight 2^e, clears the bits below 2^e and
// sets the bit 2^(e-1): e >= 1 gives v * 2^e + 2^(e-1), e = 0 gives v, and e < 0 gives v shifted
// right by -e. Where that shift reaches past the field (mode G, p = -3) only its sign survives,
// which a shift by 63 gives as well.
struct DecodePlan {
    std::uint8_t up[block::kHalfSamples];
    std::uint8_t down[block::kHalfSamples];
    std::int32_t keep[block::kHalfSamples];
    std::int32_t half[block::kHalfSamples];
    // Prediction masks: all ones where the sample adds the mean of its neighbours.
    std::int32_t predictThree;
    std::int32_t predictOneFive;
    std::int32_t predictEvens;
    std::int32_t limitTwoFour;  // upper limit of stored samples 2 and 4
    std::int32_t stateMask;
    std::int32_t stateHalfStep;
    std::int16_t parameter;
    std::uint16_t mode;
};

constexpr DecodePlan makePlan(unsigned code, int width) {
    const block::ModeChoice choice = block::modeOfCode(code, width);
    const Layout layout = choice.layout;
    const int p = choice.parameter;
    DecodePlan plan{};
    for (int k = 0; k < block::kHalfSamples; ++k) {
        const int bits = block::fieldBits(layout, width, k);
        const int e = p + 4 - width - (block::isFine(layout, width, k) ? 1 : 0);
        plan.up[k] = static_cast<std::uint8_t>(block::fieldStart(layout, width, k));
        plan.down[k] = static_cast<std::uint8_t>(std::min(64 - bits - e, 63));
        plan.keep[k] = e > 0 ? block::lowBitsCleared(e) : -1;
        plan.half[k] = e > 0 ? block::bitAt(e - 1) : 0;
    }
    const Prediction prediction = block::predictionOf(layout);
    plan.predictThree = prediction == Prediction::SevenDirect ? -1 : 0;
    plan.predictOneFive =
        prediction == Prediction::SevenDirect || prediction == Prediction::ThreeDirect ? -1 : 0;
    plan.predictEvens = prediction == Prediction::Direct ? 0 : -1;
    plan.limitTwoFour = block::limitsSamplesTwoAndFour(layout)
                            ? 32767
                            : std::numeric_limits<std::int32_t>::max();
    // The decoder state's mask and half step, shift counts taken modulo 32.
    const int count = (p + 4) & 31;
    plan.stateMask = block::lowBitsCleared(count) >> width;
    plan.stateHalfStep = block::bitAt(count) >> (width + 1);
    plan.parameter = static_cast<std::int16_t>(p);
    plan.mode = static_cast<std::uint16_t>(block::modeLetter(layout));
    return plan;
}

using PlanTable = std::array<DecodePlan, 256>;

constexpr PlanTable makePlans(int width) {
    PlanTable plans{};
    for (unsigned code = 0; code < 256; ++code) plans[code] = makePlan(code, width);
    return plans;
}

constexpr std::array<PlanTable, block::kMaxWidth - block::kMinWidth + 1> kPlans = {
    makePlans(4), makePlans(5), makePlans(6), makePlans(7), makePlans(8)};

template <int N>
constexpr std::array<std::array<std::uint8_t, N>, 2> halfBytes() {
    std::array<std::array<std::uint8_t, N>, 2> index{};
    for (int half = 0; half < 2; ++half)
        for (int i = 0; i < N; ++i)
            index[half][i] = static_cast<std::uint8_t>(block::halfByteIndex(half, i, N));
    return index;
}

// The half's n bytes, most significant first, at the top of a 64-bit word.
template <int N>
inline std::uint64_t halfString(const std::uint8_t* bytes, int half) {
    static constexpr auto kIndex = halfBytes<N>();
    std::uint64_t word = 0;
    for (int i = 0; i < N; ++i) word |= std::uint64_t{bytes[kIndex[half][i]]} << (56 - 8 * i);
    return word;
}

inline std::int32_t contribution(std::uint64_t word, const DecodePlan& plan, int k) {
    const auto top = static_cast<std::int64_t>(word << plan.up[k]);
    return (static_cast<std::int32_t>(top >> plan.down[k]) & plan.keep[k]) | plan.half[k];
}

inline std::int16_t stored(std::int32_t s) { return static_cast<std::int16_t>(s); }

// Reconstructs one half into out[0..7] from carried sample a; returns sample 7 as 32 bits.
inline std::int32_t decodeHalf(std::uint64_t word, std::int32_t a, const DecodePlan& plan,
                               std::int16_t* out) {
    using block::mean;
    using block::wrapAdd;
    const std::int32_t s7 = contribution(word, plan, 7);
    const std::int32_t s3 = wrapAdd(contribution(word, plan, 3), mean(a, s7) & plan.predictThree);
    const std::int32_t s1 = wrapAdd(contribution(word, plan, 1), mean(a, s3) & plan.predictOneFive);
    const std::int32_t s5 =
        wrapAdd(contribution(word, plan, 5), mean(s3, s7) & plan.predictOneFive);
    const std::int32_t s0 = wrapAdd(contribution(word, plan, 0), mean(a, s1) & plan.predictEvens);
    const std::int32_t s2 = wrapAdd(contribution(word, plan, 2), mean(s1, s3) & plan.predictEvens);
    const std::int32_t s4 = wrapAdd(contribution(word, plan, 4), mean(s3, s5) & plan.predictEvens);
    const std::int32_t s6 = wrapAdd(contribution(word, plan, 6), mean(s5, s7) & plan.predictEvens);
    out[0] = stored(s0);
    out[1] = stored(s1);
    out[2] = stored(std::min(s2, plan.limitTwoFour));
    out[3] = stored(s3);
    out[4] = stored(std::min(s4, plan.limitTwoFour));
    out[5] = stored(s5);
    out[6] = stored(s6);
    out[7] = stored(s7);
    return s7;
}

template <int N>
std::int32_t decodeBlock(BlockDecoder& state, const std::uint8_t* bytes, std::int16_t* out,
                         std::int32_t carried) {
    const std::uint64_t first = halfString<N>(bytes, 0);
    const std::uint64_t second = halfString<N>(bytes, 1);
    const unsigned code = static_cast<unsigned>(((first >> 56) & 0xF0) | (second >> 60));
    const DecodePlan& plan = kPlans[N - block::kMinWidth][code];
    state.parameter = plan.parameter;
    state.mode = plan.mode;
    state.mask = plan.stateMask;
    state.halfStep = plan.stateHalfStep;
    const std::int32_t middle = decodeHalf(first, carried, plan, out);
    return decodeHalf(second, middle, plan, out + block::kHalfSamples);
}

}  // namespace

std::int32_t BlockDecoder::decode(const std::uint8_t* bytes, std::int16_t* out,
                                  std::int32_t carried, int width) {
    switch (width) {
    case 4: return decodeBlock<4>(*this, bytes, out, carried);
    case 5: return decodeBlock<5>(*this, bytes, out, carried);
    case 6: return decodeBlock<6>(*this, bytes, out, carried);
    case 7: return decodeBlock<7>(*this, bytes, out, carried);
    case 8: return decodeBlock<8>(*this, bytes, out, carried);
    default:
        // No codec for this width: a block of silence that the next block starts from.
        std::fill(out, out + block::kBlockSamples, std::int16_t{0});
        return 0;
    }
}

}  // namespace korvo
