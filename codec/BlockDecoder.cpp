#include "codec/BlockDecoder.h"

#include <algorithm>
#include <array>
#include <limits>

#include "codec/Avx2.h"
#include "codec/BitString.h"
#include "codec/BlockFormat.h"
#include "codec/Kernel.h"
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
    plan.limitTwoFour =
        block::limitsSamplesTwoAndFour(layout) ? 32767 : std::numeric_limits<std::int32_t>::max();
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
    for (unsigned code = 0; code < 256; ++code)
        plans[code] = makePlan(code, width);
    return plans;
}

constexpr std::array<PlanTable, block::kMaxWidth - block::kMinWidth + 1> kPlans = {
    makePlans(4), makePlans(5), makePlans(6), makePlans(7), makePlans(8)};

// The two halves' bit strings of one block, each at the top of a 64-bit word; the bits below a
// string are left over from neighbouring bytes and ignored by the field extraction. Widths 5 to
// 8 read the block as two little-endian words and gather every other byte pair; an odd width
// moves the block's last byte to where the second half's next pair would begin. An exact read
// takes the second word as the 8 bytes that end the block, so nothing after it is read.
template <int N, bool exact>
inline void halfStrings(const std::uint8_t* bytes, std::uint64_t& first, std::uint64_t& second) {
    if constexpr (N == 4) {
        const std::uint64_t word = block::loadBigEndian64(bytes);
        first = word;
        second = word << 32;
    } else {
        const std::uint64_t low = block::loadLittleEndian64(bytes);
        std::uint64_t high = block::loadLittleEndian64(bytes + 8);
        if constexpr (exact && N < 8)
            high = block::loadLittleEndian64(bytes + 2 * N - 8) >> (8 * (16 - 2 * N));
        std::uint64_t highSecond = high;
        if constexpr (N == 5)
            highSecond = high << 8;
        if constexpr (N == 7)
            highSecond = (high & 0x0000FFFFFFFFFFFFull) | ((high << 8) & 0x00FF000000000000ull);
        first = block::byteSwap64(block::evenPairs(low) | (block::evenPairs(high) << 32));
        second = block::byteSwap64(block::evenPairs(low >> 16) |
                                   (block::evenPairs(highSecond >> 16) << 32));
    }
}

inline std::int32_t contribution(std::uint64_t word, const DecodePlan& plan, int k) {
    const auto top = static_cast<std::int64_t>(word << plan.up[k]);
    return (static_cast<std::int32_t>(top >> plan.down[k]) & plan.keep[k]) | plan.half[k];
}

inline std::int16_t stored(std::int32_t s) {
    return static_cast<std::int16_t>(s);
}

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

// Decodes one block, reading its bytes exactly or as 16 (the block and what follows it);
// returns the new carried sample and the block's plan.
template <int N, bool exact>
inline std::int32_t decodeWide(const std::uint8_t* bytes, std::int16_t* out, std::int32_t carried,
                               const DecodePlan*& plan) {
    std::uint64_t first, second;
    halfStrings<N, exact>(bytes, first, second);
    const unsigned code = static_cast<unsigned>(((first >> 56) & 0xF0) | (second >> 60));
    plan = &kPlans[N - block::kMinWidth][code];
    // Sample 7 of every half is coded directly, so the second half does not wait for the first.
    const std::int32_t middle = decodeHalf(first, carried, *plan, out);
    return decodeHalf(second, middle, *plan, out + block::kHalfSamples);
}

void keepState(BlockDecoder& state, const DecodePlan& plan) {
    state.parameter = plan.parameter;
    state.mode = plan.mode;
    state.mask = plan.stateMask;
    state.halfStep = plan.stateHalfStep;
}

template <int N>
std::int32_t decodeBlocks(BlockDecoder& state, const std::uint8_t* bytes, std::int16_t* out,
                          std::size_t blocks, std::int32_t carried) {
    constexpr std::size_t kBytes = 2 * N;
    // Blocks followed by at least 16 readable bytes are read 16 bytes at a time, the last ones
    // exactly, so nothing past the run is read.
    constexpr std::size_t kTail = (16 + kBytes - 1) / kBytes;
    const DecodePlan* plan = nullptr;
    std::size_t b = 0;
    for (; b + kTail <= blocks; ++b)
        carried =
            decodeWide<N, false>(bytes + b * kBytes, out + b * block::kBlockSamples, carried, plan);
    for (; b < blocks; ++b)
        carried =
            decodeWide<N, true>(bytes + b * kBytes, out + b * block::kBlockSamples, carried, plan);
    if (plan != nullptr)
        keepState(state, *plan);
    return carried;
}

#if KORVO_CODEC_HAS_AVX2

// The vector kernel decodes one half in one register, lane k holding sample k: the eight fields
// are cut out of the half's bit string at once, then the prediction runs level by level (sample
// 3, then 1 and 5, then the evens), each level adding the masked mean of its neighbours.
//
// Per mode code, everything a lane needs, one byte a lane.
struct LanePlan {
    std::uint8_t start[block::kHalfSamples];      // first bit of the field in the half string
    std::uint8_t down[block::kHalfSamples];       // 32 - W - e: the field's lowest bit to 2^e
    std::uint8_t step[block::kHalfSamples];       // max(e, 0)
    std::uint8_t predicted[block::kHalfSamples];  // 0xFF where the sample adds a mean
    std::uint8_t limited[block::kHalfSamples];    // 0xFF where the stored sample is limited
};

constexpr LanePlan makeLanePlan(unsigned code, int width) {
    const block::ModeChoice choice = block::modeOfCode(code, width);
    const Layout layout = choice.layout;
    const Prediction prediction = block::predictionOf(layout);
    LanePlan plan{};
    for (int k = 0; k < block::kHalfSamples; ++k) {
        const int bits = block::fieldBits(layout, width, k);
        const int e = choice.parameter + 4 - width - (block::isFine(layout, width, k) ? 1 : 0);
        plan.start[k] = static_cast<std::uint8_t>(block::fieldStart(layout, width, k));
        plan.down[k] = static_cast<std::uint8_t>(32 - bits - e);
        plan.step[k] = static_cast<std::uint8_t>(e > 0 ? e : 0);
        bool predicted = false;
        if (k == 3)
            predicted = prediction == Prediction::SevenDirect;
        if (k == 1 || k == 5)
            predicted =
                prediction == Prediction::SevenDirect || prediction == Prediction::ThreeDirect;
        if (k % 2 == 0)
            predicted = prediction != Prediction::Direct;
        plan.predicted[k] = predicted ? 0xFF : 0;
        plan.limited[k] = (k == 2 || k == 4) && block::limitsSamplesTwoAndFour(layout) ? 0xFF : 0;
    }
    return plan;
}

using LanePlanTable = std::array<LanePlan, 256>;

constexpr LanePlanTable makeLanePlans(int width) {
    LanePlanTable plans{};
    for (unsigned code = 0; code < 256; ++code)
        plans[code] = makeLanePlan(code, width);
    return plans;
}

constexpr std::array<LanePlanTable, block::kMaxWidth - block::kMinWidth + 1> kLanePlans = {
    makeLanePlans(4), makeLanePlans(5), makeLanePlans(6), makeLanePlans(7), makeLanePlans(8)};

// Byte shuffle from a block's 16 bytes to four 32-bit words: the first half's string bits 0-31
// and 32-63, then the second half's, each as a number (string bit 0 its top bit).
template <int N>
constexpr std::array<std::uint8_t, 16> stringShuffle() {
    std::array<std::uint8_t, 16> control{};
    for (int half = 0; half < 2; ++half) {
        for (int j = 0; j < 8; ++j) {
            const int stringByte = (j / 4) * 4 + 3 - (j % 4);
            control[8 * half + j] =
                stringByte < N
                    ? static_cast<std::uint8_t>(block::halfByteIndex(half, stringByte, N))
                    : 0x80;
        }
    }
    return control;
}

KORVO_AVX2 inline __m256i expandBytes(const std::uint8_t* bytes) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)));
}

KORVO_AVX2 inline __m256i expandMask(const std::uint8_t* bytes) {
    return _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)));
}

// What the two halves of a block share: the plan's lanes, widened.
struct LaneBlock {
    __m256i start, fromLow, toLow, down, keep, half, three, oneFive, evens, limit;
};

KORVO_AVX2 inline LaneBlock laneBlock(const LanePlan& plan) {
    LaneBlock b;
    const __m256i thirtyTwo = _mm256_set1_epi32(32);
    b.start = expandBytes(plan.start);
    b.fromLow = _mm256_sub_epi32(thirtyTwo, b.start);
    b.toLow = _mm256_sub_epi32(b.start, thirtyTwo);
    b.down = expandBytes(plan.down);
    const __m256i step = expandBytes(plan.step);
    b.keep = _mm256_sllv_epi32(_mm256_set1_epi32(-1), step);
    b.half = _mm256_srli_epi32(_mm256_sllv_epi32(_mm256_set1_epi32(1), step), 1);
    const __m256i predicted = expandMask(plan.predicted);
    b.three = _mm256_and_si256(predicted, _mm256_setr_epi32(0, 0, 0, -1, 0, 0, 0, 0));
    b.oneFive = _mm256_and_si256(predicted, _mm256_setr_epi32(0, -1, 0, 0, 0, -1, 0, 0));
    b.evens = _mm256_and_si256(predicted, _mm256_setr_epi32(-1, 0, -1, 0, -1, 0, -1, 0));
    // The largest int, or 32767 where limited.
    const __m256i limited = expandMask(plan.limited);
    b.limit = _mm256_add_epi32(_mm256_set1_epi32(0x7FFFFFFF),
                               _mm256_and_si256(limited, _mm256_set1_epi32(32767 - 0x7FFFFFFF)));
    return b;
}

KORVO_AVX2 inline __m256i mean8(__m256i x, __m256i y) {
    return _mm256_srai_epi32(_mm256_add_epi32(x, y), 1);
}

// The contributions of a half whose string is broadcast as high (bits 0-31) and low (32-63).
// Every field is first brought to the top of its lane; the shifts by 32 or more that this asks
// for where a field lies wholly in one word give 0.
KORVO_AVX2 inline __m256i contributions(__m256i high, __m256i low, const LaneBlock& b) {
    const __m256i top = _mm256_or_si256(
        _mm256_or_si256(_mm256_sllv_epi32(high, b.start), _mm256_srlv_epi32(low, b.fromLow)),
        _mm256_sllv_epi32(low, b.toLow));
    return _mm256_or_si256(_mm256_and_si256(_mm256_srav_epi32(top, b.down), b.keep), b.half);
}

// Reconstructs a half from its contributions q, the carried sample a and its sample 7, both
// broadcast; stores the 8 samples.
KORVO_AVX2 inline void predictHalf(__m256i q, __m256i a, __m256i s7, const LaneBlock& b,
                                   std::int16_t* out) {
    // Sample 3 from (a, s7).
    __m256i s = _mm256_add_epi32(q, _mm256_and_si256(mean8(a, s7), b.three));
    // Samples 1 and 5 from (a, s3) and (s3, s7).
    __m256i left = _mm256_blend_epi32(
        _mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(0, 0, 0, 0, 0, 3, 0, 0)), a, 0x02);
    __m256i right = _mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(0, 3, 0, 0, 0, 7, 0, 0));
    s = _mm256_add_epi32(s, _mm256_and_si256(mean8(left, right), b.oneFive));
    // The evens from their odd neighbours.
    left = _mm256_blend_epi32(
        _mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(0, 0, 1, 0, 3, 0, 5, 0)), a, 0x01);
    right = _mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(1, 0, 3, 0, 5, 0, 7, 0));
    s = _mm256_add_epi32(s, _mm256_and_si256(mean8(left, right), b.evens));
    s = _mm256_min_epi32(s, b.limit);
    // The low 16 bits of each lane, in order.
    const __m256i lows = _mm256_shuffle_epi8(
        s, _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 4, 5, 8,
                            9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1));
    const __m256i packed = _mm256_permute4x64_epi64(lows, 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
}

// A block's bytes in a register, read as 16 or exactly: the first 8 and the 8 that end it.
template <int N, bool exact>
KORVO_AVX2 inline __m128i loadBlock(const std::uint8_t* bytes) {
    if constexpr (N == 4 && exact)
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes));
    if constexpr (N < 8 && exact)
        return _mm_or_si128(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)),
            _mm_bslli_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + 2 * N - 8)),
                            2 * N - 8));
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// Decodes one block; a holds the carried sample in every lane and receives the block's last
// sample. Returns the block's plan.
template <int N, bool exact>
KORVO_AVX2 inline const LanePlan& decodeLanes(const std::uint8_t* bytes, std::int16_t* out,
                                              __m256i& a) {
    static constexpr auto kShuffle = stringShuffle<N>();
    constexpr int kSecond = N == 4 ? 4 : 2;
    const unsigned code = (bytes[0] & 0xF0u) | (bytes[kSecond] >> 4);
    const LanePlan& plan = kLanePlans[N - block::kMinWidth][code];
    const LaneBlock b = laneBlock(plan);

    const __m256i raw = _mm256_broadcastsi128_si256(loadBlock<N, exact>(bytes));
    const __m256i words = _mm256_shuffle_epi8(
        raw, _mm256_broadcastsi128_si256(
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShuffle.data()))));
    const __m256i seven = _mm256_set1_epi32(7);
    // Sample 7 of each half is its field alone, so the second half, and the next block, start
    // without waiting for the first half's prediction.
    const __m256i q0 =
        contributions(_mm256_shuffle_epi32(words, 0x00), _mm256_shuffle_epi32(words, 0x55), b);
    const __m256i q1 =
        contributions(_mm256_shuffle_epi32(words, 0xAA), _mm256_shuffle_epi32(words, 0xFF), b);
    const __m256i middle = _mm256_permutevar8x32_epi32(q0, seven);
    const __m256i last = _mm256_permutevar8x32_epi32(q1, seven);
    predictHalf(q0, a, middle, b, out);
    predictHalf(q1, middle, last, b, out + block::kHalfSamples);
    a = last;
    return plan;
}

template <int N>
KORVO_AVX2 std::int32_t decodeBlocksAvx2(BlockDecoder& state, const std::uint8_t* bytes,
                                         std::int16_t* out, std::size_t blocks,
                                         std::int32_t carried) {
    constexpr std::size_t kBytes = 2 * N;
    constexpr std::size_t kTail = (16 + kBytes - 1) / kBytes;
    __m256i a = _mm256_set1_epi32(carried);
    const LanePlan* plan = nullptr;
    std::size_t b = 0;
    for (; b + kTail <= blocks; ++b)
        plan = &decodeLanes<N, false>(bytes + b * kBytes, out + b * block::kBlockSamples, a);
    for (; b < blocks; ++b)
        plan = &decodeLanes<N, true>(bytes + b * kBytes, out + b * block::kBlockSamples, a);
    if (plan == nullptr)
        return carried;
    const auto code = static_cast<std::size_t>(plan - kLanePlans[N - block::kMinWidth].data());
    keepState(state, kPlans[N - block::kMinWidth][code]);
    return _mm_cvtsi128_si32(_mm256_castsi256_si128(a));
}

#endif  // KORVO_CODEC_HAS_AVX2

}  // namespace

std::int32_t BlockDecoder::decode(const std::uint8_t* bytes, std::int16_t* out,
                                  std::int32_t carried, int width) {
    return decodeRun(bytes, out, 1, carried, width);
}

std::int32_t BlockDecoder::decodeRun(const std::uint8_t* bytes, std::int16_t* out,
                                     std::size_t blocks, std::int32_t carried, int width) {
    return decodeRun(bytes, out, blocks, carried, width, block::fastestKernel());
}

std::int32_t BlockDecoder::decodeRun(const std::uint8_t* bytes, std::int16_t* out,
                                     std::size_t blocks, std::int32_t carried, int width,
                                     block::Kernel kernel) {
    const auto portable = [&] {
        return block::withWidth(
            width,
            [&](auto n) {
                return decodeBlocks<decltype(n)::value>(*this, bytes, out, blocks, carried);
            },
            [&] {
                // No codec for this width: blocks of silence that the next block starts from.
                std::fill(out, out + blocks * block::kBlockSamples, std::int16_t{0});
                return std::int32_t{0};
            });
    };
#if KORVO_CODEC_HAS_AVX2
    if (kernel == block::Kernel::Avx2 && block::kernelAvailable(kernel)) {
        return block::withWidth(
            width,
            [&](auto n) {
                return decodeBlocksAvx2<decltype(n)::value>(*this, bytes, out, blocks, carried);
            },
            portable);
    }
#endif
    return portable();
}

}  // namespace korvo
