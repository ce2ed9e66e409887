#include "codec/BlockEncoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "codec/BitString.h"
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

// The header code of every layout and parameter the encoder chooses, per width.
using HeaderCodes = std::array<std::array<std::uint8_t, kTopParameter + 1>, block::kLayoutCount>;

constexpr HeaderCodes makeHeaderCodes(int width) {
    HeaderCodes codes{};
    for (int l = 0; l < block::kLayoutCount; ++l)
        for (int p = 0; p <= kTopParameter; ++p)
            codes[l][p] = static_cast<std::uint8_t>(
                block::headerCode(static_cast<Layout>(l), p, width));
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
            prediction == Prediction::SevenDirect || prediction == Prediction::ThreeDirect ? -1
                                                                                            : 0;
        masks[l].evens = prediction == Prediction::Direct ? 0 : -1;
    }
    return masks;
}

constexpr std::array<PredictionMasks, block::kLayoutCount> kPredictionMasks =
    makePredictionMasks();

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
            if (layout == Layout::D && p == 10) layout = Layout::D10;
            if (layout == Layout::E && p == 8) layout = Layout::E8;
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
    const std::int32_t twoR0 =
        r0 > std::numeric_limits<std::int32_t>::max() / 2 ? std::numeric_limits<std::int32_t>::max()
                                                          : 2 * r0;

    std::int32_t needB = ((m7 | m3 | m15 | 0x7FE) >> 1) | r0 | floor;
    if constexpr (N == 4) needB |= 0x3FFF;
    const std::int32_t needC = ((m7 | m3 | 0x3FC) >> 2) | (r15 >> 1) | r0 | floor;
    std::int32_t needD = ((m7 | 0x3F0) >> 4) | (r3 >> 3) | (r15 >> 1) | twoR0 | floor;
    const std::int32_t needD10 = ((r15 | 0x1FFE) >> 1) | twoR0;  // D with p = 10
    needD = needD > 0x7FF ? needD10 : needD;
    const std::int32_t needE = ((m7 | 0x3C0) >> 6) | (r3 >> 2) | (r15 >> 1) | twoR0 | floor;
    std::int32_t needF = ((m7 | 0x180) >> 7) | (r3 >> 2) | r15 | twoR0 | floor;
    if constexpr (N != 4) needF |= 7;

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
        if constexpr (N == 5) highSecond = block::spreadPairs(g >> 32) << 8;
        if constexpr (N == 7) {
            const std::uint64_t spread = block::spreadPairs(g >> 32);
            highSecond = ((spread & 0xFFFF) << 16) | ((spread & 0xFF00000000ull) << 8);
        }
        block::storeLittleEndian64(out + 8, high | highSecond);
    }
}

// Encodes one block into out (16 bytes writable); returns the new carried sample. Keeps the
// chosen mode and the level magnitudes in the state when keepState is set, and the
// reconstruction always (recon may be the state's own array).
template <int N, bool keepState>
inline std::int32_t encodeWide(BlockEncoder& state, const std::int16_t* in, std::uint8_t* out,
                               std::int32_t carried, std::int32_t* recon) {
    std::int32_t levels[6] = {};
    measureHalf(in, carried, levels);
    measureHalf(in + block::kHalfSamples, in[7], levels);

    const Choice choice = chooseMode<N>(levels);
    const int shift = choice.parameter - N + 4;
    const Step step{shift, block::lowBitsCleared(shift), block::bitAt(shift) >> 1};
    if constexpr (keepState) {
        for (int l = 0; l < 6; ++l) state.levels[l] = levels[l];
        state.parameter = static_cast<std::int16_t>(choice.parameter);
        state.mode = static_cast<std::uint16_t>(block::modeLetter(choice.layout));
        state.mask = step.mask;
        state.halfStep = step.half;
    }

    const int layout = static_cast<int>(choice.layout);
    const FieldPlan& fields = kFieldPlans[N - block::kMinWidth][layout];
    const PredictionMasks& predict = kPredictionMasks[layout];
    HalfCoder first{fields, step};
    HalfCoder second{fields, step};
    const std::int32_t middle = first.encode(in, carried, predict, recon);
    const std::int32_t last =
        second.encode(in + block::kHalfSamples, middle, predict, recon + block::kHalfSamples);

    const unsigned code = kHeaderCodes[N - block::kMinWidth][layout][choice.parameter];
    first.word |= std::uint64_t{code & 0xF0} << 56;
    second.word |= std::uint64_t{code & 0x0F} << 60;
    storeBlock<N>(first.word, second.word, out);
    return last;
}

template <int N>
std::int32_t encodeBlocks(BlockEncoder& state, const std::int16_t* in, std::uint8_t* out,
                          std::size_t blocks, std::int32_t carried) {
    if (blocks == 0) return carried;
    constexpr std::size_t kBytes = 2 * N;
    // Blocks followed by at least 16 writable bytes are written in place; the last ones through
    // a copy, so nothing past the run is written.
    constexpr std::size_t kTail = (16 + kBytes - 1) / kBytes;
    std::int32_t recon[block::kBlockSamples];
    std::size_t b = 0;
    for (; b + kTail <= blocks && b + 1 < blocks; ++b)
        carried = encodeWide<N, false>(state, in + b * block::kBlockSamples, out + b * kBytes,
                                       carried, recon);
    for (; b < blocks; ++b) {
        std::uint8_t copy[16];
        carried = b + 1 < blocks ? encodeWide<N, false>(state, in + b * block::kBlockSamples,
                                                        copy, carried, recon)
                                 : encodeWide<N, true>(state, in + b * block::kBlockSamples,
                                                       copy, carried, state.reconstructed);
        std::memcpy(out + b * kBytes, copy, kBytes);
    }
    return carried;
}

}  // namespace

std::int32_t BlockEncoder::encode(const std::int16_t* in, std::uint8_t* out, std::int32_t carried,
                                  int width) {
    return encodeRun(in, out, 1, carried, width);
}

std::int32_t BlockEncoder::encodeRun(const std::int16_t* in, std::uint8_t* out, std::size_t blocks,
                                     std::int32_t carried, int width) {
    switch (width) {
    case 4: return encodeBlocks<4>(*this, in, out, blocks, carried);
    case 5: return encodeBlocks<5>(*this, in, out, blocks, carried);
    case 6: return encodeBlocks<6>(*this, in, out, blocks, carried);
    case 7: return encodeBlocks<7>(*this, in, out, blocks, carried);
    case 8: return encodeBlocks<8>(*this, in, out, blocks, carried);
    default: return 0;  // no codec for this width: nothing is written
    }
}

}  // namespace korvo
