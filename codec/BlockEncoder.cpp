#include "codec/BlockEncoder.h"

#include <array>
#include <limits>

#include "codec/BlockFormat.h"
#include "codec/Prediction.h"

namespace korvo {
namespace {

using block::Layout;
using block::mean;
using block::Prediction;
using block::wrapAdd;
using block::wrapSub;

constexpr int kTopParameter = 13;  // mode A: plain PCM

// Where each sample's field goes in a half, for one layout at one width.
struct FieldPlan {
    std::uint8_t bits[block::kHalfSamples];   // field width W
    std::uint8_t lowBit[block::kHalfSamples]; // bit of the 64-bit half word that takes the field's lowest bit
    std::uint32_t valueMask[block::kHalfSamples];
    std::uint8_t fineSamples;
};

constexpr FieldPlan makeFieldPlan(Layout layout, int width) {
    FieldPlan plan{};
    for (int k = 0; k < block::kHalfSamples; ++k) {
        const int bits = block::fieldBits(layout, width, k);
        plan.bits[k] = static_cast<std::uint8_t>(bits);
        plan.lowBit[k] = static_cast<std::uint8_t>(64 - block::fieldStart(layout, width, k) - bits);
        plan.valueMask[k] = (std::uint32_t{1} << bits) - 1;
        if (block::isFine(layout, width, k)) plan.fineSamples |= static_cast<std::uint8_t>(1u << k);
    }
    return plan;
}

using FieldPlans = std::array<FieldPlan, block::kLayoutCount>;

constexpr FieldPlans makeFieldPlans(int width) {
    FieldPlans plans{};
    for (int l = 0; l < block::kLayoutCount; ++l)
        plans[l] = makeFieldPlan(static_cast<Layout>(l), width);
    return plans;
}

constexpr std::array<FieldPlans, block::kMaxWidth - block::kMinWidth + 1> kFieldPlans = {
    makeFieldPlans(4), makeFieldPlans(5), makeFieldPlans(6), makeFieldPlans(7), makeFieldPlans(8)};

// Every layout and parameter the encoder can choose writes a header that decodes back to it.
constexpr bool headersDecodeToTheirMode() {
    struct Range {
        Layout layout;
        int low, high;
    };
    for (int width = block::kMinWidth; width <= block::kMaxWidth; ++width) {
        const bool narrow = width == 4;
        const Range ranges[] = {{Layout::A, 13, 13},         {Layout::B, narrow ? 12 : 8, 12},
                                {Layout::C, 6, 11},          {Layout::D, 4, 9},
                                {Layout::D10, 10, 10},       {Layout::E, 2, 7},
                                {Layout::E8, 8, 8},          {Layout::F, narrow ? 0 : 1, 6}};
        for (const Range& range : ranges) {
            for (int p = range.low; p <= range.high; ++p) {
                const block::ModeChoice back =
                    block::modeOfCode(block::headerCode(range.layout, p, width), width);
                if (back.layout != range.layout || back.parameter != p) return false;
            }
        }
    }
    return true;
}
static_assert(headersDecodeToTheirMode());

// The step of the chosen parameter: s = p - n + 4, mask = -1 << s, half step = (1 << s) >> 1.
struct Step {
    int shift;
    std::int32_t mask;
    std::int32_t half;

    Step finer() const { return {shift - 1, mask >> 1, half >> 1}; }
};

// One half being encoded: its samples' contributions and reconstructions, and its bit string.
struct HalfCoder {
    const FieldPlan& fields;
    Step step;
    std::int32_t* recon;  // reconstructions of samples 0 to 7 (32 bits, as the decoder holds them)
    std::uint64_t word = 0;

    void put(int k, std::int32_t contribution, int shift) {
        const auto value = static_cast<std::uint32_t>(contribution >> shift) & fields.valueMask[k];
        word |= std::uint64_t{value} << fields.lowBit[k];
    }

    // Sample k coded directly: rounded down to the step, plus half a step.
    void direct(int k, std::int32_t y, const Step& s) {
        const std::int32_t q = (y & s.mask) | s.half;
        recon[k] = q;
        put(k, q, s.shift);
    }

    // Sample k coded as a correction to the mean of its reconstructed neighbours u and w.
    void correction(int k, std::int32_t y, std::int32_t u, std::int32_t w) {
        const std::int32_t d = mean(u, w);
        const std::int32_t r = y - d;  // |d| < 2^30 and y is 16-bit: no overflow
        const int signBit = fields.bits[k] + step.shift - 1;
        const std::int32_t top = r >> signBit;
        std::int32_t q;
        if (top != 0 && top != -1) {
            // The correction does not fit the field: the field's largest or smallest value.
            const std::int32_t below = block::bitAt(signBit) - 1;
            q = (r > 0 ? (step.mask & below) : (step.mask & ~below)) | step.half;
        } else {
            q = (r & step.mask) | step.half;
            const std::int32_t g = wrapAdd(d, q);
            if (g < -32768 || g > 32767) {
                // Flip the step bits of the 16-bit range: back inside it by as many steps as
                // the reconstruction overshot.
                q = wrapSub(g ^ (step.mask & 0xFFFF), d);
            } else if (g == -32768 && (u & w & 1) != 0) {
                q += 2 * step.half;
            }
        }
        recon[k] = wrapAdd(d, q);
        put(k, q, step.shift);
    }

    // Encodes samples y[0..7] predicted from a; returns the reconstruction of sample 7.
    std::int32_t encode(const std::int16_t* y, std::int32_t a, Prediction prediction) {
        std::int32_t* s = recon;
        switch (prediction) {
        case Prediction::Direct: {
            const Step fine = step.finer();
            for (int k : {7, 3, 1, 5, 0, 2, 4, 6})
                direct(k, y[k], ((fields.fineSamples >> k) & 1) != 0 ? fine : step);
            return s[7];
        }
        case Prediction::OddsDirect:
            direct(7, y[7], step);
            direct(3, y[3], step);
            direct(1, y[1], step);
            direct(5, y[5], step);
            break;
        case Prediction::ThreeDirect:
            direct(7, y[7], step);
            direct(3, y[3], step);
            correction(1, y[1], a, s[3]);
            correction(5, y[5], s[3], s[7]);
            break;
        case Prediction::SevenDirect:
            direct(7, y[7], step);
            correction(3, y[3], a, s[7]);
            correction(1, y[1], a, s[3]);
            correction(5, y[5], s[3], s[7]);
            break;
        }
        correction(0, y[0], a, s[1]);
        correction(2, y[2], s[1], s[3]);
        correction(4, y[4], s[3], s[5]);
        correction(6, y[6], s[5], s[7]);
        return s[7];
    }
};

// Level magnitudes of a block, in the order of BlockEncoder::levels.
enum Level { M7, M3, M15, R3, R15, R0 };

inline void measureHalf(const std::int16_t* y, std::int32_t a, std::int32_t* levels) {
    using block::magnitude;
    levels[M7] |= magnitude(y[7]);
    levels[M3] |= magnitude(y[3]);
    levels[M15] |= magnitude(y[1]) | magnitude(y[5]);
    levels[R3] |= magnitude(y[3] - mean(a, y[7]));
    levels[R15] |= magnitude(y[1] - mean(a, y[3])) | magnitude(y[5] - mean(y[3], y[7]));
    levels[R0] |= magnitude(y[0] - mean(a, y[1])) | magnitude(y[2] - mean(y[1], y[3])) |
                  magnitude(y[4] - mean(y[3], y[5])) | magnitude(y[6] - mean(y[5], y[7]));
}

struct Choice {
    Layout layout;
    int parameter;
};

template <int N>
Choice chooseMode(const std::int32_t* levels) {
    const std::int32_t m7 = levels[M7], m3 = levels[M3], m15 = levels[M15];
    const std::int32_t r3 = levels[R3], r15 = levels[R15], r0 = levels[R0];
    const std::int32_t floor = 3 << (N - 4);
    // A carried sample far outside the 16-bit range can make 2 * R0 overflow; it then counts as
    // the largest requirement there is, which leads to mode A.
    const std::int32_t twoR0 =
        r0 > std::numeric_limits<std::int32_t>::max() / 2 ? std::numeric_limits<std::int32_t>::max()
                                                          : 2 * r0;

    std::int32_t needB = ((m7 | m3 | m15 | 0x7FE) >> 1) | r0 | floor;
    if constexpr (N == 4) needB |= 0x3FFF;
    const std::int32_t needC = ((m7 | m3 | 0x3FC) >> 2) | (r15 >> 1) | r0 | floor;
    std::int32_t needD = ((m7 | 0x3F0) >> 4) | (r3 >> 3) | (r15 >> 1) | twoR0 | floor;
    if (needD > 0x7FF) needD = ((r15 | 0x1FFE) >> 1) | twoR0;  // D with p = 10
    const std::int32_t needE = ((m7 | 0x3C0) >> 6) | (r3 >> 2) | (r15 >> 1) | twoR0 | floor;
    std::int32_t needF = ((m7 | 0x180) >> 7) | (r3 >> 2) | r15 | twoR0 | floor;
    if constexpr (N != 4) needF |= 7;

    // A later mode wins only with a strictly lower highest set bit.
    std::int32_t winner = needB;
    for (const std::int32_t candidate : {needC, needD, needE, needF})
        if (candidate < (winner & ~candidate)) winner = candidate;

    // The floor keeps the step at 1 or more (p >= n - 4); the loop never goes below that.
    int p = kTopParameter;
    for (std::int32_t doubled = winner; doubled < 0x4000 && p > N - 4; doubled <<= 1) --p;

    if (p == kTopParameter) return {Layout::A, p};
    if (needB == winner) return {Layout::B, p};
    if (needC == winner) return {Layout::C, p};
    if (needD == winner) return {p == 10 ? Layout::D10 : Layout::D, p};
    if (needE == winner) return {p == 8 ? Layout::E8 : Layout::E, p};
    return {Layout::F, p};
}

template <int N>
std::int32_t encodeBlock(BlockEncoder& state, const std::int16_t* in, std::uint8_t* out,
                         std::int32_t carried) {
    for (std::int32_t& level : state.levels) level = 0;
    measureHalf(in, carried, state.levels);
    measureHalf(in + block::kHalfSamples, in[7], state.levels);

    const Choice choice = chooseMode<N>(state.levels);
    const int shift = choice.parameter - N + 4;
    const Step step{shift, block::lowBitsCleared(shift), block::bitAt(shift) >> 1};
    state.parameter = static_cast<std::int16_t>(choice.parameter);
    state.mode = static_cast<std::uint16_t>(block::modeLetter(choice.layout));
    state.mask = step.mask;
    state.halfStep = step.half;

    const FieldPlan& fields = kFieldPlans[N - block::kMinWidth][static_cast<int>(choice.layout)];
    const Prediction prediction = block::predictionOf(choice.layout);
    HalfCoder first{fields, step, state.reconstructed};
    HalfCoder second{fields, step, state.reconstructed + block::kHalfSamples};
    const std::int32_t middle = first.encode(in, carried, prediction);
    const std::int32_t last = second.encode(in + block::kHalfSamples, middle, prediction);

    const unsigned code = block::headerCode(choice.layout, choice.parameter, N);
    first.word |= std::uint64_t{code & 0xF0} << 56;
    second.word |= std::uint64_t{code & 0x0F} << 60;
    for (int i = 0; i < N; ++i) {
        out[block::halfByteIndex(0, i, N)] = static_cast<std::uint8_t>(first.word >> (56 - 8 * i));
        out[block::halfByteIndex(1, i, N)] = static_cast<std::uint8_t>(second.word >> (56 - 8 * i));
    }
    return last;
}

}  // namespace

std::int32_t BlockEncoder::encode(const std::int16_t* in, std::uint8_t* out, std::int32_t carried,
                                  int width) {
    switch (width) {
    case 4: return encodeBlock<4>(*this, in, out, carried);
    case 5: return encodeBlock<5>(*this, in, out, carried);
    case 6: return encodeBlock<6>(*this, in, out, carried);
    case 7: return encodeBlock<7>(*this, in, out, carried);
    case 8: return encodeBlock<8>(*this, in, out, carried);
    default: return 0;  // no codec for this width: nothing is written
    }
}

}  // namespace korvo
