#include "codec/BlockEncoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "codec/Avx2.h"
#include "codec/BitString.h"
#include "codec/BlockFormat.h"
#include "codec/BlockGroupEncoder.h"
#include "codec/Kernel.h"
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
    std::uint8_t bits[block::kHalfSamples];    // field width W
    std::uint8_t lowBit[block::kHalfSamples];  // bit of the 64-bit half word that takes the field's
                                               // lowest bit
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
        if (block::isFine(layout, width, k))
            plan.fineSamples |= static_cast<std::uint8_t>(1u << k);
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
        const Range ranges[] = {{Layout::A, 13, 13},   {Layout::B, narrow ? 12 : 8, 12},
                                {Layout::C, 6, 11},    {Layout::D, 4, 9},
                                {Layout::D10, 10, 10}, {Layout::E, 2, 7},
                                {Layout::E8, 8, 8},    {Layout::F, narrow ? 0 : 1, 6}};
        for (const Range& range : ranges) {
            for (int p = range.low; p <= range.high; ++p) {
                const block::ModeChoice back =
                    block::modeOfCode(block::headerCode(range.layout, p, width), width);
                if (back.layout != range.layout || back.parameter != p)
                    return false;
            }
        }
    }
    return true;
}
static_assert(headersDecodeToTheirMode());

// The header code of every layout and parameter the encoder chooses, per width.
using HeaderCodes = std::array<std::array<std::uint8_t, kTopParameter + 1>, block::kLayoutCount>;

constexpr HeaderCodes makeHeaderCodes(int width) {
    HeaderCodes codes{};
    for (int l = 0; l < block::kLayoutCount; ++l)
        for (int p = 0; p <= kTopParameter; ++p)
            codes[l][p] =
                static_cast<std::uint8_t>(block::headerCode(static_cast<Layout>(l), p, width));
    return codes;
}

constexpr std::array<HeaderCodes, block::kMaxWidth - block::kMinWidth + 1> kHeaderCodes = {
    makeHeaderCodes(4), makeHeaderCodes(5), makeHeaderCodes(6), makeHeaderCodes(7),
    makeHeaderCodes(8)};

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

// The layout of the first mode B, C, D, E or F whose requirement wins, by parameter: mode A for
// parameter 13, the 4-bit-header variants D10 and E8 for their parameters.
using ChosenLayouts = std::array<std::array<Layout, kTopParameter + 1>, 5>;

constexpr ChosenLayouts makeChosenLayouts() {
    ChosenLayouts layouts{};
    constexpr Layout first[5] = {Layout::B, Layout::C, Layout::D, Layout::E, Layout::F};
    for (int m = 0; m < 5; ++m) {
        for (int p = 0; p <= kTopParameter; ++p) {
            Layout layout = first[m];
            if (layout == Layout::D && p == 10)
                layout = Layout::D10;
            if (layout == Layout::E && p == 8)
                layout = Layout::E8;
            layouts[m][p] = p == kTopParameter ? Layout::A : layout;
        }
    }
    return layouts;
}

constexpr ChosenLayouts kChosenLayouts = makeChosenLayouts();

struct Choice {
    Layout layout;
    int parameter;
};

template <int N>
[[gnu::always_inline]] inline Choice chooseMode(const std::int32_t* levels) {
    const std::int32_t m7 = levels[M7], m3 = levels[M3], m15 = levels[M15];
    const std::int32_t r3 = levels[R3], r15 = levels[R15], r0 = levels[R0];
    const std::int32_t floor = 3 << (N - 4);
    // A carried sample far outside the 16-bit range can make 2 * R0 overflow; it then counts as
    // the largest requirement there is, which leads to mode A.
    const std::int32_t twoR0 = r0 > std::numeric_limits<std::int32_t>::max() / 2
                                   ? std::numeric_limits<std::int32_t>::max()
                                   : 2 * r0;

    std::int32_t needB = ((m7 | m3 | m15 | 0x7FE) >> 1) | r0 | floor;
    if constexpr (N == 4)
        needB |= 0x3FFF;
    const std::int32_t needC = ((m7 | m3 | 0x3FC) >> 2) | (r15 >> 1) | r0 | floor;
    std::int32_t needD = ((m7 | 0x3F0) >> 4) | (r3 >> 3) | (r15 >> 1) | twoR0 | floor;
    const std::int32_t needD10 = ((r15 | 0x1FFE) >> 1) | twoR0;  // D with p = 10
    needD = needD > 0x7FF ? needD10 : needD;
    const std::int32_t needE = ((m7 | 0x3C0) >> 6) | (r3 >> 2) | (r15 >> 1) | twoR0 | floor;
    std::int32_t needF = ((m7 | 0x180) >> 7) | (r3 >> 2) | r15 | twoR0 | floor;
    if constexpr (N != 4)
        needF |= 7;

    // A later mode wins only with a strictly lower highest set bit.
    std::int32_t winner = needB;
    winner = needC < (winner & ~needC) ? needC : winner;
    winner = needD < (winner & ~needD) ? needD : winner;
    winner = needE < (winner & ~needE) ? needE : winner;
    winner = needF < (winner & ~needF) ? needF : winner;

    // p = 13 while the winner needs 15 bits or more, otherwise one less than the index of its
    // highest bit; the floor keeps the step at 1 or more (p >= n - 4).
    const int bits = std::bit_width(static_cast<std::uint32_t>(winner));
    const int p = std::max(N - 4, std::min(kTopParameter, bits - 2));

    // The first mode whose requirement is the winner, looked up with its parameter so that the
    // choice costs no branch.
    const unsigned matches = (needB == winner ? 1u : 0u) | (needC == winner ? 2u : 0u) |
                             (needD == winner ? 4u : 0u) | (needE == winner ? 8u : 0u) | 16u;
    const Layout layout = kChosenLayouts[std::countr_zero(matches)][p];
    return {layout, p};
}

// The two half strings as the block's bytes; a width below 8 writes past the block's 2n bytes
// (up to 16 in all), which the caller lets the next block overwrite or copies out.
template <int N>
inline void storeBlock(std::uint64_t first, std::uint64_t second, std::uint8_t* out) {
    if constexpr (N == 4) {
        block::storeLittleEndian64(out, block::byteSwap64(first | (second >> 32)));
    } else {
        const std::uint64_t f = block::byteSwap64(first);
        const std::uint64_t g = block::byteSwap64(second);
        block::storeLittleEndian64(out, block::spreadPairs(f) | (block::spreadPairs(g) << 16));
        const std::uint64_t high = block::spreadPairs(f >> 32);
        std::uint64_t highSecond = block::spreadPairs(g >> 32) << 16;
        // An odd width's second half ends one byte early, in the block's last byte.
        if constexpr (N == 5)
            highSecond = block::spreadPairs(g >> 32) << 8;
        if constexpr (N == 7) {
            const std::uint64_t spread = block::spreadPairs(g >> 32);
            highSecond = ((spread & 0xFFFF) << 16) | ((spread & 0xFF00000000ull) << 8);
        }
        block::storeLittleEndian64(out + 8, high | highSecond);
    }
}

// What the first pass over a block decides: the mode, its parameter and step. Keeps them and
// the level magnitudes in the state when keepState is set.
struct BlockPlan {
    int layout;
    int parameter;
    Step step;
};

template <int N, bool keepState>
inline BlockPlan planFromLevels(BlockEncoder& state, const std::int32_t* levels) {
    const Choice choice = chooseMode<N>(levels);
    const int shift = choice.parameter - N + 4;
    const Step step{shift, block::lowBitsCleared(shift), block::bitAt(shift) >> 1};
    if constexpr (keepState) {
        for (int l = 0; l < 6; ++l)
            state.levels[l] = levels[l];
        state.parameter = static_cast<std::int16_t>(choice.parameter);
        state.mode = static_cast<std::uint16_t>(block::modeLetter(choice.layout));
        state.mask = step.mask;
        state.halfStep = step.half;
    }
    return {static_cast<int>(choice.layout), choice.parameter, step};
}

template <int N, bool keepState>
inline BlockPlan planBlock(BlockEncoder& state, const std::int16_t* in, std::int32_t carried) {
    std::int32_t levels[6] = {};
    measureHalf(in, carried, levels);
    measureHalf(in + block::kHalfSamples, in[7], levels);
    return planFromLevels<N, keepState>(state, levels);
}

// Adds the header to the two half strings and writes the block.
template <int N>
inline void finishBlock(const BlockPlan& plan, std::uint64_t first, std::uint64_t second,
                        std::uint8_t* out) {
    const unsigned code = kHeaderCodes[N - block::kMinWidth][plan.layout][plan.parameter];
    first |= std::uint64_t{code & 0xF0} << 56;
    second |= std::uint64_t{code & 0x0F} << 60;
    storeBlock<N>(first, second, out);
}

// Encodes one block into out (16 bytes writable) and its reconstruction into recon (which may
// be the state's own array); returns the new carried sample.
template <int N, bool keepState>
inline std::int32_t encodeWide(BlockEncoder& state, const std::int16_t* in, std::uint8_t* out,
                               std::int32_t carried, std::int32_t* recon) {
    const BlockPlan plan = planBlock<N, keepState>(state, in, carried);
    const FieldPlan& fields = kFieldPlans[N - block::kMinWidth][plan.layout];
    const Prediction prediction = block::predictionOf(static_cast<Layout>(plan.layout));
    HalfCoder first{fields, plan.step, recon};
    HalfCoder second{fields, plan.step, recon + block::kHalfSamples};
    const std::int32_t middle = first.encode(in, carried, prediction);
    const std::int32_t last = second.encode(in + block::kHalfSamples, middle, prediction);
    finishBlock<N>(plan, first.word, second.word, out);
    return last;
}

#if KORVO_CODEC_HAS_AVX2

// The vector kernel holds a block in two registers: the odd samples 1, 3, 5, 7 of the first
// half and then of the second half, and the even samples 0, 2, 4, 6 likewise. Every sample is
// first quantised directly; then, level by level (the samples 3, then 1 and 5, then the evens),
// the corrections of all lanes of a register are computed at once and kept in the lanes of
// the level whose samples the mode predicts. The measuring pass works on the same registers.
constexpr int kOddLanes = 0;   // lanes 0-7 of a lane plan
constexpr int kEvenLanes = 8;  // lanes 8-15

constexpr int laneSample(int lane) {
    return 2 * (lane % 4) + (lane < kEvenLanes ? 1 : 0);
}

// Per layout at one width, everything a lane needs.
struct EncodeLanePlan {
    std::int32_t fine[16];       // 1 for a fine field
    std::int32_t signBase[16];   // W - 1 - fine: the field's sign bit less the step exponent
    std::int32_t valueMask[16];  // the W low bits
    std::int32_t predicted[16];  // -1 where the sample is a correction
    // Shifts that place the field's value in the half string's bits 0-31 (left, or right when
    // the field runs on past bit 31) and 32-63 (left); 255 where the field has no bits there.
    std::int32_t highLeft[16];
    std::int32_t highRight[16];
    std::int32_t lowLeft[16];
};

constexpr EncodeLanePlan makeEncodeLanePlan(Layout layout, int width) {
    const Prediction prediction = block::predictionOf(layout);
    EncodeLanePlan plan{};
    for (int lane = 0; lane < 16; ++lane) {
        const int k = laneSample(lane);
        const int bits = block::fieldBits(layout, width, k);
        const int end = block::fieldStart(layout, width, k) + bits;
        const int fine = block::isFine(layout, width, k) ? 1 : 0;
        plan.fine[lane] = fine;
        plan.signBase[lane] = bits - 1 - fine;
        plan.valueMask[lane] = (1 << bits) - 1;
        bool predicted = false;
        if (k == 3)
            predicted = prediction == Prediction::SevenDirect;
        if (k == 1 || k == 5)
            predicted =
                prediction == Prediction::SevenDirect || prediction == Prediction::ThreeDirect;
        if (k % 2 == 0)
            predicted = prediction != Prediction::Direct;
        plan.predicted[lane] = predicted ? -1 : 0;
        plan.highLeft[lane] = end <= 32 ? 32 - end : 255;
        plan.highRight[lane] = end > 32 ? end - 32 : 255;
        plan.lowLeft[lane] = 64 - end;
    }
    return plan;
}

using EncodeLanePlans = std::array<EncodeLanePlan, block::kLayoutCount>;

constexpr EncodeLanePlans makeEncodeLanePlans(int width) {
    EncodeLanePlans plans{};
    for (int l = 0; l < block::kLayoutCount; ++l)
        plans[l] = makeEncodeLanePlan(static_cast<Layout>(l), width);
    return plans;
}

constexpr std::array<EncodeLanePlans, block::kMaxWidth - block::kMinWidth + 1> kEncodeLanePlans = {
    makeEncodeLanePlans(4), makeEncodeLanePlans(5), makeEncodeLanePlans(6), makeEncodeLanePlans(7),
    makeEncodeLanePlans(8)};

KORVO_AVX2 inline __m256i loadLanes(const std::int32_t* lanes) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
}

KORVO_AVX2 inline __m256i permute(__m256i x, int l0, int l1, int l2, int l3, int l4, int l5, int l6,
                                  int l7) {
    return _mm256_permutevar8x32_epi32(x, _mm256_setr_epi32(l0, l1, l2, l3, l4, l5, l6, l7));
}

KORVO_AVX2 inline __m256i mean8(__m256i x, __m256i y) {
    return _mm256_srai_epi32(_mm256_add_epi32(x, y), 1);
}

KORVO_AVX2 inline __m256i magnitude8(__m256i v) {
    return _mm256_xor_si256(v, _mm256_srai_epi32(v, 31));
}

// The step as every correction lane uses it (corrections are never fine).
struct UniformStep {
    __m256i mask, half, twoHalves, stepBits;
};

// One register's lanes: the direct step (fine where the field is), the field's place.
struct LaneSide {
    __m256i directMask, directHalf, shift, signBit, below, valueMask, predicted;
    __m256i highLeft, highRight, lowLeft;
};

KORVO_AVX2 inline LaneSide laneSide(const EncodeLanePlan& plan, int first, const Step& step) {
    LaneSide l;
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i fine = loadLanes(plan.fine + first);
    const __m256i shift = _mm256_set1_epi32(step.shift);
    l.shift = _mm256_sub_epi32(shift, fine);
    l.directMask = _mm256_srav_epi32(_mm256_set1_epi32(step.mask), fine);
    l.directHalf = _mm256_srav_epi32(_mm256_set1_epi32(step.half), fine);
    l.signBit = _mm256_add_epi32(loadLanes(plan.signBase + first), shift);
    l.below = _mm256_sub_epi32(_mm256_sllv_epi32(one, l.signBit), one);
    l.valueMask = loadLanes(plan.valueMask + first);
    l.predicted = loadLanes(plan.predicted + first);
    l.highLeft = loadLanes(plan.highLeft + first);
    l.highRight = loadLanes(plan.highRight + first);
    l.lowLeft = loadLanes(plan.lowLeft + first);
    return l;
}

// Quantises the corrections of samples y predicted from neighbours u and w in every lane, as
// HalfCoder::correction does for one sample, and keeps them in the lanes where level is set: q
// takes the quantised correction, s the reconstruction.
KORVO_AVX2 inline void correctLevel(__m256i y, __m256i u, __m256i w, __m256i level,
                                    const LaneSide& l, const UniformStep& step, __m256i& s,
                                    __m256i& q) {
    const __m256i d = mean8(u, w);
    const __m256i r = _mm256_sub_epi32(y, d);
    const __m256i top = _mm256_srav_epi32(r, l.signBit);
    const __m256i fits = _mm256_cmpeq_epi32(top, _mm256_srai_epi32(r, 31));
    const __m256i plain = _mm256_or_si256(_mm256_and_si256(r, step.mask), step.half);
    const __m256i g = _mm256_add_epi32(d, plain);
    // Outside the 16-bit range, or on its lowest value: the rare cases below.
    const __m256i bottom = _mm256_set1_epi32(-32768);
    const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi32(g, _mm256_set1_epi32(32767)),
                                            _mm256_cmpgt_epi32(bottom, g));
    const __m256i lowest = _mm256_cmpeq_epi32(g, bottom);
    const __m256i rare = _mm256_and_si256(
        _mm256_or_si256(_mm256_andnot_si256(fits, level), _mm256_or_si256(outside, lowest)), level);
    __m256i corrected = plain;
    if (!_mm256_testz_si256(rare, rare)) {
        // Outside the field: its largest value for a positive correction, else its smallest.
        const __m256i positive = _mm256_cmpgt_epi32(r, _mm256_setzero_si256());
        const __m256i saturated =
            _mm256_or_si256(_mm256_blendv_epi8(_mm256_andnot_si256(l.below, step.mask),
                                               _mm256_and_si256(step.mask, l.below), positive),
                            step.half);
        // Outside the 16-bit range: reflected back inside.
        const __m256i reflected = _mm256_sub_epi32(_mm256_xor_si256(g, step.stepBits), d);
        // On -32768 between two odd neighbours: one step up.
        const __m256i one = _mm256_set1_epi32(1);
        const __m256i raise = _mm256_and_si256(
            _mm256_and_si256(
                lowest, _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_and_si256(u, w), one), one)),
            step.twoHalves);
        const __m256i kept = _mm256_blendv_epi8(_mm256_add_epi32(plain, raise), reflected, outside);
        corrected = _mm256_blendv_epi8(saturated, kept, fits);
    }
    q = _mm256_blendv_epi8(q, corrected, level);
    s = _mm256_blendv_epi8(s, _mm256_add_epi32(d, corrected), level);
}

// Neighbours within the odd register: a for sample 1, s3 for sample 5; and s3, s7.
KORVO_AVX2 inline __m256i leftOfOneFive(__m256i odd, __m256i a) {
    return _mm256_blend_epi32(permute(odd, 0, 0, 1, 0, 4, 4, 5, 4), a, 0x11);
}
KORVO_AVX2 inline __m256i rightOfOneFive(__m256i odd) {
    return permute(odd, 1, 1, 3, 3, 5, 5, 7, 7);
}
// Neighbours of the evens: a, s1, s3, s5 and s1, s3, s5, s7.
KORVO_AVX2 inline __m256i leftOfEvens(__m256i odd, __m256i a) {
    return _mm256_blend_epi32(permute(odd, 0, 0, 1, 2, 4, 4, 5, 6), a, 0x11);
}

// The OR of a register's two 128-bit halves: the first half's lanes with the second's.
KORVO_AVX2 inline __m128i fold(__m256i x) {
    return _mm_or_si128(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
}

// The level magnitudes of the block whose odd and even samples are given, a holding the
// carried sample in lanes 0-3 and input sample 7 in lanes 4-7.
KORVO_AVX2 inline void measureLanes(__m256i odd, __m256i even, __m256i a, std::int32_t* levels) {
    // Sample 3 from (a, y7), samples 1 and 5 from (a, y3) and (y3, y7); lane 3 unused.
    const __m256i left = _mm256_blend_epi32(permute(odd, 0, 0, 1, 0, 4, 4, 5, 4), a, 0x33);
    const __m256i right = permute(odd, 1, 3, 3, 3, 5, 7, 7, 7);
    const __m256i oddResidual = magnitude8(_mm256_sub_epi32(odd, mean8(left, right)));
    const __m256i evenResidual =
        magnitude8(_mm256_sub_epi32(even, mean8(leftOfEvens(odd, a), odd)));
    alignas(16) std::int32_t direct[4], residual[4], evens[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(direct), fold(magnitude8(odd)));
    _mm_store_si128(reinterpret_cast<__m128i*>(residual), fold(oddResidual));
    _mm_store_si128(reinterpret_cast<__m128i*>(evens), fold(evenResidual));
    levels[M7] = direct[3];
    levels[M3] = direct[1];
    levels[M15] = direct[0] | direct[2];
    levels[R3] = residual[1];
    levels[R15] = residual[0] | residual[2];
    levels[R0] = evens[0] | evens[1] | evens[2] | evens[3];
}

// The OR of the lanes of each 128-bit half: the bits of the first half string in the low
// half, of the second in the high half.
KORVO_AVX2 inline __m256i orWithinHalves(__m256i x) {
    x = _mm256_or_si256(x, _mm256_shuffle_epi32(x, 0x4E));
    return _mm256_or_si256(x, _mm256_shuffle_epi32(x, 0xB1));
}

template <int N, bool keepState>
KORVO_AVX2 inline std::int32_t encodeWideAvx2(BlockEncoder& state, const std::int16_t* in,
                                              std::uint8_t* out, std::int32_t carried,
                                              std::int32_t*) {
    // Each 32-bit lane holds an even sample low and the next odd sample high.
    const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i yOdd = _mm256_srai_epi32(pairs, 16);
    const __m256i yEven = _mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 16);

    std::int32_t levels[6];
    measureLanes(yOdd, yEven,
                 _mm256_blend_epi32(_mm256_set1_epi32(carried), _mm256_set1_epi32(in[7]), 0xF0),
                 levels);
    const BlockPlan plan = planFromLevels<N, keepState>(state, levels);

    // Sample 7 is coded directly (finely in mode A): the second half's carried sample, and the
    // next block's, need no wait for the first half.
    const int fine = plan.layout == static_cast<int>(Layout::A) ? 1 : 0;
    const auto direct = [&](std::int32_t y) {
        return (y & (plan.step.mask >> fine)) | (plan.step.half >> fine);
    };
    const std::int32_t middle = direct(in[7]);
    const std::int32_t last = direct(in[15]);
    const __m256i a =
        _mm256_blend_epi32(_mm256_set1_epi32(carried), _mm256_set1_epi32(middle), 0xF0);

    const EncodeLanePlan& lanes = kEncodeLanePlans[N - block::kMinWidth][plan.layout];
    const LaneSide odd = laneSide(lanes, kOddLanes, plan.step);
    const LaneSide even = laneSide(lanes, kEvenLanes, plan.step);
    UniformStep step;
    step.mask = _mm256_set1_epi32(plan.step.mask);
    step.half = _mm256_set1_epi32(plan.step.half);
    step.twoHalves = _mm256_add_epi32(step.half, step.half);
    step.stepBits = _mm256_set1_epi32(plan.step.mask & 0xFFFF);

    __m256i qOdd = _mm256_or_si256(_mm256_and_si256(yOdd, odd.directMask), odd.directHalf);
    __m256i qEven = _mm256_or_si256(_mm256_and_si256(yEven, even.directMask), even.directHalf);
    __m256i sOdd = qOdd, sEven = qEven;
    // Sample 3 (lanes 1 and 5) from (a, s7).
    correctLevel(yOdd, a, permute(sOdd, 3, 3, 3, 3, 7, 7, 7, 7),
                 _mm256_and_si256(odd.predicted, _mm256_setr_epi32(0, -1, 0, 0, 0, -1, 0, 0)), odd,
                 step, sOdd, qOdd);
    // Samples 1 and 5 (lanes 0, 2, 4, 6) from (a, s3) and (s3, s7).
    correctLevel(yOdd, leftOfOneFive(sOdd, a), rightOfOneFive(sOdd),
                 _mm256_and_si256(odd.predicted, _mm256_setr_epi32(-1, 0, -1, 0, -1, 0, -1, 0)),
                 odd, step, sOdd, qOdd);
    // The evens from their odd neighbours.
    correctLevel(yEven, leftOfEvens(sOdd, a), sOdd, even.predicted, even, step, sEven, qEven);

    if constexpr (keepState) {
        const __m256i low = _mm256_unpacklo_epi32(sEven, sOdd);   // s0-s3, s8-s11
        const __m256i high = _mm256_unpackhi_epi32(sEven, sOdd);  // s4-s7, s12-s15
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(state.reconstructed),
                            _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(state.reconstructed + 8),
                            _mm256_permute2x128_si256(low, high, 0x31));
    }

    const __m256i vOdd = _mm256_and_si256(_mm256_srav_epi32(qOdd, odd.shift), odd.valueMask);
    const __m256i vEven = _mm256_and_si256(_mm256_srav_epi32(qEven, even.shift), even.valueMask);
    const __m256i highBits =
        orWithinHalves(_mm256_or_si256(_mm256_or_si256(_mm256_sllv_epi32(vOdd, odd.highLeft),
                                                       _mm256_srlv_epi32(vOdd, odd.highRight)),
                                       _mm256_or_si256(_mm256_sllv_epi32(vEven, even.highLeft),
                                                       _mm256_srlv_epi32(vEven, even.highRight))));
    const __m256i lowBits = orWithinHalves(_mm256_or_si256(_mm256_sllv_epi32(vOdd, odd.lowLeft),
                                                           _mm256_sllv_epi32(vEven, even.lowLeft)));
    // Per half, lane 0 the string's bits 32-63 and lane 1 its bits 0-31: a 64-bit string, to
    // which the header nibbles go.
    const unsigned code = kHeaderCodes[N - block::kMinWidth][plan.layout][plan.parameter];
    const __m256i header =
        _mm256_sllv_epi32(_mm256_and_si256(_mm256_set1_epi32(static_cast<int>(code)),
                                           _mm256_setr_epi32(0, 0xF0, 0, 0, 0, 0x0F, 0, 0)),
                          _mm256_setr_epi32(0, 24, 0, 0, 0, 28, 0, 0));
    const __m256i strings = _mm256_or_si256(_mm256_blend_epi32(lowBits, highBits, 0x22), header);
    static constexpr auto kShuffle = block::blockShuffle<N>();
    const __m128i both = _mm256_castsi256_si128(_mm256_permute4x64_epi64(strings, 0x08));
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out),
        _mm_shuffle_epi8(both, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShuffle.data()))));
    return last;
}

#endif  // KORVO_CODEC_HAS_AVX2

// The run loop of a kernel: blocks followed by at least 16 writable bytes are written in place,
// the last ones through a copy so that nothing past the run is written; only the last block
// keeps its state.
#define KORVO_ENCODE_BLOCKS(encodeOne)                                                             \
    if (blocks == 0)                                                                               \
        return carried;                                                                            \
    constexpr std::size_t kBytes = 2 * N;                                                          \
    constexpr std::size_t kTail = (16 + kBytes - 1) / kBytes;                                      \
    std::int32_t recon[block::kBlockSamples];                                                      \
    std::size_t b = 0;                                                                             \
    for (; b + kTail <= blocks && b + 1 < blocks; ++b)                                             \
        carried = encodeOne<N, false>(state, in + b * block::kBlockSamples, out + b * kBytes,      \
                                      carried, recon);                                             \
    for (; b < blocks; ++b) {                                                                      \
        std::uint8_t copy[16];                                                                     \
        carried = b + 1 < blocks ? encodeOne<N, false>(state, in + b * block::kBlockSamples, copy, \
                                                       carried, recon)                             \
                                 : encodeOne<N, true>(state, in + b * block::kBlockSamples, copy,  \
                                                      carried, state.reconstructed);               \
        std::memcpy(out + b * kBytes, copy, kBytes);                                               \
    }                                                                                              \
    return carried;

template <int N>
std::int32_t encodeBlocks(BlockEncoder& state, const std::int16_t* in, std::uint8_t* out,
                          std::size_t blocks, std::int32_t carried) {
    KORVO_ENCODE_BLOCKS(encodeWide)
}

#if KORVO_CODEC_HAS_AVX2
// Whole groups of eight blocks go through the group kernel; the last blocks of the run (at
// least one, and enough for the group's last 16-byte store) one at a time.
template <int N>
KORVO_AVX2 std::int32_t encodeBlocksAvx2(BlockEncoder& state, const std::int16_t* in,
                                         std::uint8_t* out, std::size_t blocks,
                                         std::int32_t carried) {
    constexpr std::size_t kLastBlocks = (16 + 2 * N - 1) / (2 * N);
    if (blocks > kLastBlocks) {
        const std::size_t groups = (blocks - kLastBlocks) / block::kGroupBlocks;
        const std::size_t grouped = groups * block::kGroupBlocks;
        carried = block::encodeBlockGroupsAvx2(in, out, groups, carried, N);
        in += grouped * block::kBlockSamples;
        out += grouped * 2 * N;
        blocks -= grouped;
    }
    KORVO_ENCODE_BLOCKS(encodeWideAvx2)
}
#endif

#undef KORVO_ENCODE_BLOCKS

}  // namespace

std::int32_t BlockEncoder::encode(const std::int16_t* in, std::uint8_t* out, std::int32_t carried,
                                  int width) {
    return encodeRun(in, out, 1, carried, width);
}

std::int32_t BlockEncoder::encodeRun(const std::int16_t* in, std::uint8_t* out, std::size_t blocks,
                                     std::int32_t carried, int width) {
    return encodeRun(in, out, blocks, carried, width, block::fastestKernel());
}

std::int32_t BlockEncoder::encodeRun(const std::int16_t* in, std::uint8_t* out, std::size_t blocks,
                                     std::int32_t carried, int width, block::Kernel kernel) {
    // No codec for this width: nothing is written.
    const auto nothing = [] { return std::int32_t{0}; };
#if KORVO_CODEC_HAS_AVX2
    if (kernel == block::Kernel::Avx2 && block::kernelAvailable(kernel)) {
        return block::withWidth(
            width,
            [&](auto n) {
                return encodeBlocksAvx2<decltype(n)::value>(*this, in, out, blocks, carried);
            },
            nothing);
    }
#endif
    return block::withWidth(
        width,
        [&](auto n) { return encodeBlocks<decltype(n)::value>(*this, in, out, blocks, carried); },
        nothing);
}

}  // namespace korvo
