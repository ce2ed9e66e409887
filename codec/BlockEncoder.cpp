#include "codec/BlockEncoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "codec/BitString.h"
#include "codec/BlockFormat.h"
#include "codec/Kernel.h"
#include "codec/Prediction.h"

#if KORVO_CODEC_HAS_AVX2
#include <immintrin.h>
#endif

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

// How the samples of a half are predicted in a layout: all ones where sample 3, samples 1 and 5,
// or the even samples are coded as corrections to the mean of their neighbours.
struct PredictionMasks {
    std::int32_t three;
    std::int32_t oneFive;
    std::int32_t evens;
};

constexpr std::array<PredictionMasks, block::kLayoutCount> makePredictionMasks() {
    std::array<PredictionMasks, block::kLayoutCount> masks{};
    for (int l = 0; l < block::kLayoutCount; ++l) {
        const Prediction prediction = block::predictionOf(static_cast<Layout>(l));
        masks[l].three = prediction == Prediction::SevenDirect ? -1 : 0;
        masks[l].oneFive =
            prediction == Prediction::SevenDirect || prediction == Prediction::ThreeDirect ? -1 : 0;
        masks[l].evens = prediction == Prediction::Direct ? 0 : -1;
    }
    return masks;
}

constexpr std::array<PredictionMasks, block::kLayoutCount> kPredictionMasks = makePredictionMasks();

// The step of the chosen parameter: s = p - n + 4, mask = -1 << s, half step = (1 << s) >> 1.
struct Step {
    int shift;
    std::int32_t mask;
    std::int32_t half;
};

// One half being encoded into its bit string. Every sample goes through the same steps whatever
// the layout, so that the mode of a block selects table rows, not code: a directly coded sample
// is a correction to a prediction of 0 that skips the field and range tests, which it always
// passes.
struct HalfCoder {
    const FieldPlan& fields;
    Step step;
    std::uint64_t word = 0;

    // Sample k: y predicted from the reconstructions u and w where predicted is all ones, coded
    // directly where it is 0. Returns the reconstruction.
    std::int32_t code(int k, std::int32_t y, std::int32_t u, std::int32_t w,
                      std::int32_t predicted) {
        // Fine fields (mode A) have a step half as large.
        const int fine = (fields.fineSamples >> k) & 1;
        const int shift = step.shift - fine;
        const std::int32_t mask = step.mask >> fine;
        const std::int32_t half = step.half >> fine;

        const std::int32_t d = mean(u, w) & predicted;
        const std::int32_t r = wrapSub(y, d);
        const int signBit = fields.bits[k] + shift - 1;
        const std::int32_t top = r >> signBit;
        const bool fits = static_cast<std::uint32_t>(top + 1) <= 1 || predicted == 0;
        std::int32_t q = (r & mask) | half;
        const std::int32_t g = wrapAdd(d, q);
        if (!fits) {
            // The correction does not fit the field: the field's largest or smallest value.
            const std::int32_t below = block::bitAt(signBit) - 1;
            q = (r > 0 ? (mask & below) : (mask & ~below)) | half;
        } else if (static_cast<std::uint32_t>(g + 32768) > 0xFFFF) {
            // Flip the step bits of the 16-bit range: back inside it by as many steps as the
            // reconstruction overshot.
            q = wrapSub(g ^ (mask & 0xFFFF), d);
        } else if (g == -32768 && (u & w & predicted & 1) != 0) {
            q += 2 * half;
        }
        const auto value = static_cast<std::uint32_t>(q >> shift) & fields.valueMask[k];
        word |= std::uint64_t{value} << fields.lowBit[k];
        return wrapAdd(d, q);
    }

    // Encodes samples y[0..7] predicted from a into recon[0..7]; returns the reconstruction of
    // sample 7.
    std::int32_t encode(const std::int16_t* y, std::int32_t a, const PredictionMasks& predict,
                        std::int32_t* s) {
        s[7] = code(7, y[7], 0, 0, 0);
        s[3] = code(3, y[3], a, s[7], predict.three);
        s[1] = code(1, y[1], a, s[3], predict.oneFive);
        s[5] = code(5, y[5], s[3], s[7], predict.oneFive);
        s[0] = code(0, y[0], a, s[1], predict.evens);
        s[2] = code(2, y[2], s[1], s[3], predict.evens);
        s[4] = code(4, y[4], s[3], s[5], predict.evens);
        s[6] = code(6, y[6], s[5], s[7], predict.evens);
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
Choice chooseMode(const std::int32_t* levels) {
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
inline BlockPlan planBlock(BlockEncoder& state, const std::int16_t* in, std::int32_t carried) {
    std::int32_t levels[6] = {};
    measureHalf(in, carried, levels);
    measureHalf(in + block::kHalfSamples, in[7], levels);

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
    const PredictionMasks& predict = kPredictionMasks[plan.layout];
    HalfCoder first{fields, plan.step};
    HalfCoder second{fields, plan.step};
    const std::int32_t middle = first.encode(in, carried, predict, recon);
    const std::int32_t last =
        second.encode(in + block::kHalfSamples, middle, predict, recon + block::kHalfSamples);
    finishBlock<N>(plan, first.word, second.word, out);
    return last;
}

#if KORVO_CODEC_HAS_AVX2

#define KORVO_AVX2 __attribute__((target("avx2")))

// The vector kernel quantises one half in one register, lane k holding sample k: first every
// sample directly, then level by level (sample 3, then 1 and 5, then the evens) the corrections
// of the samples that the mode predicts, all lanes at once with the lanes of the level kept.
//
// Per layout at one width, everything a lane needs, one byte a lane.
struct EncodeLanePlan {
    std::uint8_t bits[block::kHalfSamples];       // field width W
    std::uint8_t fine[block::kHalfSamples];       // 1 for a fine field
    std::uint8_t predicted[block::kHalfSamples];  // 0xFF where the sample is a correction
    // Shifts that place the field's value in the half string's bits 0-31 (left, or right when
    // the field runs on past bit 31) and 32-63 (left); 255 where the field has no bits there.
    std::uint8_t highLeft[block::kHalfSamples];
    std::uint8_t highRight[block::kHalfSamples];
    std::uint8_t lowLeft[block::kHalfSamples];
};

constexpr EncodeLanePlan makeEncodeLanePlan(Layout layout, int width) {
    const Prediction prediction = block::predictionOf(layout);
    EncodeLanePlan plan{};
    for (int k = 0; k < block::kHalfSamples; ++k) {
        const int bits = block::fieldBits(layout, width, k);
        const int start = block::fieldStart(layout, width, k);
        const int end = start + bits;
        plan.bits[k] = static_cast<std::uint8_t>(bits);
        plan.fine[k] = block::isFine(layout, width, k) ? 1 : 0;
        bool predicted = false;
        if (k == 3)
            predicted = prediction == Prediction::SevenDirect;
        if (k == 1 || k == 5)
            predicted =
                prediction == Prediction::SevenDirect || prediction == Prediction::ThreeDirect;
        if (k % 2 == 0)
            predicted = prediction != Prediction::Direct;
        plan.predicted[k] = predicted ? 0xFF : 0;
        plan.highLeft[k] = static_cast<std::uint8_t>(end <= 32 ? 32 - end : 255);
        plan.highRight[k] = static_cast<std::uint8_t>(end > 32 ? end - 32 : 255);
        plan.lowLeft[k] = static_cast<std::uint8_t>(64 - end);
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

KORVO_AVX2 inline __m256i expandBytes(const std::uint8_t* bytes) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)));
}

KORVO_AVX2 inline __m256i expandMask(const std::uint8_t* bytes) {
    return _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)));
}

// The plan's lanes, widened, and the step of every lane; shared by the block's two halves.
struct EncodeLanes {
    __m256i shift, mask, half, twoHalves, stepBits, signBit, below, valueMask;
    __m256i three, oneFive, evens;
    __m256i highLeft, highRight, lowLeft;
};

KORVO_AVX2 inline EncodeLanes encodeLanes(const EncodeLanePlan& plan, const Step& step) {
    EncodeLanes l;
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i fine = expandBytes(plan.fine);
    const __m256i bits = expandBytes(plan.bits);
    l.shift = _mm256_sub_epi32(_mm256_set1_epi32(step.shift), fine);
    l.mask = _mm256_srav_epi32(_mm256_set1_epi32(step.mask), fine);
    l.half = _mm256_srav_epi32(_mm256_set1_epi32(step.half), fine);
    l.twoHalves = _mm256_add_epi32(l.half, l.half);
    l.stepBits = _mm256_and_si256(l.mask, _mm256_set1_epi32(0xFFFF));
    l.signBit = _mm256_sub_epi32(_mm256_add_epi32(bits, l.shift), one);
    l.below = _mm256_sub_epi32(_mm256_sllv_epi32(one, l.signBit), one);
    l.valueMask = _mm256_sub_epi32(_mm256_sllv_epi32(one, bits), one);
    const __m256i predicted = expandMask(plan.predicted);
    l.three = _mm256_and_si256(predicted, _mm256_setr_epi32(0, 0, 0, -1, 0, 0, 0, 0));
    l.oneFive = _mm256_and_si256(predicted, _mm256_setr_epi32(0, -1, 0, 0, 0, -1, 0, 0));
    l.evens = _mm256_and_si256(predicted, _mm256_setr_epi32(-1, 0, -1, 0, -1, 0, -1, 0));
    l.highLeft = expandBytes(plan.highLeft);
    l.highRight = expandBytes(plan.highRight);
    l.lowLeft = expandBytes(plan.lowLeft);
    return l;
}

// The quantised correction q of samples y predicted from neighbours u and w, every lane, as
// the portable kernel's HalfCoder::code computes it for one sample.
KORVO_AVX2 inline __m256i correction(__m256i y, __m256i u, __m256i w, const EncodeLanes& l,
                                     __m256i& d) {
    d = _mm256_srai_epi32(_mm256_add_epi32(u, w), 1);
    const __m256i r = _mm256_sub_epi32(y, d);
    const __m256i top = _mm256_srav_epi32(r, l.signBit);
    const __m256i fits = _mm256_or_si256(_mm256_cmpeq_epi32(top, _mm256_setzero_si256()),
                                         _mm256_cmpeq_epi32(top, _mm256_set1_epi32(-1)));
    const __m256i q = _mm256_or_si256(_mm256_and_si256(r, l.mask), l.half);
    const __m256i g = _mm256_add_epi32(d, q);
    // Outside the field: its largest value for a positive correction, else its smallest.
    const __m256i positive = _mm256_cmpgt_epi32(r, _mm256_setzero_si256());
    const __m256i saturated =
        _mm256_or_si256(_mm256_blendv_epi8(_mm256_andnot_si256(l.below, l.mask),
                                           _mm256_and_si256(l.mask, l.below), positive),
                        l.half);
    // Outside the 16-bit range: reflected back inside.
    const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi32(g, _mm256_set1_epi32(32767)),
                                            _mm256_cmpgt_epi32(_mm256_set1_epi32(-32768), g));
    const __m256i reflected = _mm256_sub_epi32(_mm256_xor_si256(g, l.stepBits), d);
    // On -32768 between two odd neighbours: one step up.
    const __m256i oddPair = _mm256_and_si256(_mm256_and_si256(u, w), _mm256_set1_epi32(1));
    const __m256i raise =
        _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi32(g, _mm256_set1_epi32(-32768)),
                                          _mm256_cmpeq_epi32(oddPair, _mm256_set1_epi32(1))),
                         l.twoHalves);
    const __m256i kept = _mm256_blendv_epi8(_mm256_add_epi32(q, raise), reflected, outside);
    return _mm256_blendv_epi8(saturated, kept, fits);
}

// Takes the level's corrections into the lanes where level is set.
KORVO_AVX2 inline void takeLevel(__m256i y, __m256i u, __m256i w, __m256i level,
                                 const EncodeLanes& l, __m256i& s, __m256i& q) {
    __m256i d;
    const __m256i corrected = correction(y, u, w, l, d);
    q = _mm256_blendv_epi8(q, corrected, level);
    s = _mm256_blendv_epi8(s, _mm256_add_epi32(d, corrected), level);
}

KORVO_AVX2 inline std::uint32_t orLanes(__m256i x) {
    __m128i v = _mm_or_si128(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
    v = _mm_or_si128(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_or_si128(v, _mm_shuffle_epi32(v, 0xB1));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

// Encodes samples y[0..7] predicted from a (broadcast) into recon[0..7]; returns the half's
// bit string without header.
KORVO_AVX2 inline std::uint64_t quantiseHalf(const std::int16_t* samples, __m256i a,
                                             const EncodeLanes& l, std::int32_t* recon) {
    const __m256i y =
        _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(samples)));
    // Every sample directly: final for the samples the mode codes directly, sample 7 always.
    __m256i q = _mm256_or_si256(_mm256_and_si256(y, l.mask), l.half);
    __m256i s = q;
    const __m256i s7 = _mm256_permutevar8x32_epi32(s, _mm256_set1_epi32(7));
    takeLevel(y, a, s7, l.three, l, s, q);
    takeLevel(
        y,
        _mm256_blend_epi32(
            _mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(0, 0, 0, 0, 0, 3, 0, 0)), a, 0x02),
        _mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(0, 3, 0, 0, 0, 7, 0, 0)), l.oneFive, l, s,
        q);
    takeLevel(
        y,
        _mm256_blend_epi32(
            _mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(0, 0, 1, 0, 3, 0, 5, 0)), a, 0x01),
        _mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(1, 0, 3, 0, 5, 0, 7, 0)), l.evens, l, s,
        q);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(recon), s);

    const __m256i value = _mm256_and_si256(_mm256_srav_epi32(q, l.shift), l.valueMask);
    const std::uint32_t high = orLanes(_mm256_or_si256(_mm256_sllv_epi32(value, l.highLeft),
                                                       _mm256_srlv_epi32(value, l.highRight)));
    const std::uint32_t low = orLanes(_mm256_sllv_epi32(value, l.lowLeft));
    return (std::uint64_t{high} << 32) | low;
}

template <int N, bool keepState>
KORVO_AVX2 inline std::int32_t encodeWideAvx2(BlockEncoder& state, const std::int16_t* in,
                                              std::uint8_t* out, std::int32_t carried,
                                              std::int32_t* recon) {
    const BlockPlan plan = planBlock<N, keepState>(state, in, carried);
    const EncodeLanes lanes =
        encodeLanes(kEncodeLanePlans[N - block::kMinWidth][plan.layout], plan.step);
    // Sample 7 is coded directly (finely in mode A): the second half's carried sample, and the
    // next block's, need no wait for the first half.
    const int fine = plan.layout == static_cast<int>(Layout::A) ? 1 : 0;
    const auto direct = [&](std::int16_t y) {
        return (y & (plan.step.mask >> fine)) | (plan.step.half >> fine);
    };
    const std::int32_t middle = direct(in[7]);
    const std::int32_t last = direct(in[15]);
    const std::uint64_t first = quantiseHalf(in, _mm256_set1_epi32(carried), lanes, recon);
    const std::uint64_t second = quantiseHalf(in + block::kHalfSamples, _mm256_set1_epi32(middle),
                                              lanes, recon + block::kHalfSamples);
    finishBlock<N>(plan, first, second, out);
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
template <int N>
KORVO_AVX2 std::int32_t encodeBlocksAvx2(BlockEncoder& state, const std::int16_t* in,
                                         std::uint8_t* out, std::size_t blocks,
                                         std::int32_t carried) {
    KORVO_ENCODE_BLOCKS(encodeWideAvx2)
}
#endif

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
#if KORVO_CODEC_HAS_AVX2
    if (kernel == block::Kernel::Avx2 && block::kernelAvailable(kernel)) {
        switch (width) {
            case 4:
                return encodeBlocksAvx2<4>(*this, in, out, blocks, carried);
            case 5:
                return encodeBlocksAvx2<5>(*this, in, out, blocks, carried);
            case 6:
                return encodeBlocksAvx2<6>(*this, in, out, blocks, carried);
            case 7:
                return encodeBlocksAvx2<7>(*this, in, out, blocks, carried);
            case 8:
                return encodeBlocksAvx2<8>(*this, in, out, blocks, carried);
            default:
                break;
        }
    }
#endif
    switch (width) {
        case 4:
            return encodeBlocks<4>(*this, in, out, blocks, carried);
        case 5:
            return encodeBlocks<5>(*this, in, out, blocks, carried);
        case 6:
            return encodeBlocks<6>(*this, in, out, blocks, carried);
        case 7:
            return encodeBlocks<7>(*this, in, out, blocks, carried);
        case 8:
            return encodeBlocks<8>(*this, in, out, blocks, carried);
        default:
            return 0;  // no codec for this width: nothing is written
    }
}

}  // namespace korvo
