#include "codec/BlockGroupEncoder.h"

#if KORVO_CODEC_HAS_AVX2

#include <array>

#include "codec/Avx2.h"
#include "codec/BlockFormat.h"

namespace korvo::block {
namespace {

// A group of eight blocks lives transposed: register k holds sample k of every block, one block
// per lane. Each block's mode choice depends on its carried sample, the previous block's last
// reconstruction, which depends on that block's choice; the choices are therefore found by
// guessing every carried sample (the previous block's input sample 15), choosing, deriving the
// carried samples again from the choices and repeating until nothing changes. The first block's
// carried sample is known, so each round settles at least one more block and the result is
// exact; music settles in two rounds. Quantising then needs no guess: every lane knows its
// carried sample, mode and step.

constexpr int kTopParameter = 13;  // mode A: plain PCM

// The layouts the encoder writes are lane values 0 to 7 (A, B, C, D, D10, E, E8, F); mode G is
// never chosen.
constexpr int kChosenLayouts = 8;
static_assert(static_cast<int>(Layout::F) == kChosenLayouts - 1);

// Everything that depends on a lane's layout, per sample k of a half, as rows that one permute
// spreads over the lanes: the field width, its value mask, and the shifts that place its value
// in the half string's low 32 bits (left) and high 32 bits (left, or right when the field runs
// on past bit 32); a shift of 32 or more places nothing. The header code per parameter and
// layout, for a gather.
struct GroupTables {
    std::int32_t fieldBits[kHalfSamples][kChosenLayouts];
    std::int32_t valueMask[kHalfSamples][kChosenLayouts];
    std::int32_t lowLeft[kHalfSamples][kChosenLayouts];
    std::int32_t highLeft[kHalfSamples][kChosenLayouts];
    std::int32_t highRight[kHalfSamples][kChosenLayouts];
    std::int32_t header[(kTopParameter + 1) * kChosenLayouts];
};

constexpr GroupTables makeGroupTables(int width) {
    GroupTables t{};
    for (int l = 0; l < kChosenLayouts; ++l) {
        const auto layout = static_cast<Layout>(l);
        for (int k = 0; k < kHalfSamples; ++k) {
            const int bits = fieldBits(layout, width, k);
            const int low = 64 - fieldStart(layout, width, k) - bits;  // the field's lowest bit
            t.fieldBits[k][l] = bits;
            t.valueMask[k][l] = (1 << bits) - 1;
            t.lowLeft[k][l] = low;
            t.highLeft[k][l] = low >= 32 ? low - 32 : 255;
            t.highRight[k][l] = low <= 32 ? 32 - low : 255;
        }
        for (int p = 0; p <= kTopParameter; ++p)
            t.header[p * kChosenLayouts + l] =
                static_cast<std::int32_t>(headerCode(layout, p, width));
    }
    return t;
}

constexpr std::array<GroupTables, kMaxWidth - kMinWidth + 1> kGroupTables = {
    makeGroupTables(4), makeGroupTables(5), makeGroupTables(6), makeGroupTables(7),
    makeGroupTables(8)};

using V = __m256i;

KORVO_AVX2 inline V splat(std::int32_t x) {
    return _mm256_set1_epi32(x);
}
KORVO_AVX2 inline V either(V x, V y) {
    return _mm256_or_si256(x, y);
}
KORVO_AVX2 inline V either(V x, V y, V z) {
    return either(either(x, y), z);
}
KORVO_AVX2 inline V either(V x, V y, V z, V w) {
    return either(either(x, y), either(z, w));
}
KORVO_AVX2 inline V both(V x, V y) {
    return _mm256_and_si256(x, y);
}
KORVO_AVX2 inline V add(V x, V y) {
    return _mm256_add_epi32(x, y);
}
KORVO_AVX2 inline V sub(V x, V y) {
    return _mm256_sub_epi32(x, y);
}
KORVO_AVX2 inline V andNot(V x, V notThis) {
    return _mm256_andnot_si256(notThis, x);
}
KORVO_AVX2 inline V select(V mask, V whenSet, V otherwise) {
    return _mm256_blendv_epi8(otherwise, whenSet, mask);
}
KORVO_AVX2 inline V equal(V x, V y) {
    return _mm256_cmpeq_epi32(x, y);
}
KORVO_AVX2 inline V greater(V x, V y) {
    return _mm256_cmpgt_epi32(x, y);
}
KORVO_AVX2 inline V mean(V x, V y) {
    return _mm256_srai_epi32(add(x, y), 1);
}
KORVO_AVX2 inline V magnitude(V v) {
    return _mm256_xor_si256(v, _mm256_srai_epi32(v, 31));
}
// The magnitude of y less the mean of its neighbours u and w.
KORVO_AVX2 inline V residual(V y, V u, V w) {
    return magnitude(sub(y, mean(u, w)));
}
KORVO_AVX2 inline V byLayout(const std::int32_t* row, V layout) {
    return _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const V*>(row)), layout);
}

// The eight blocks' samples, sample k of block b in lane b of y[k].
KORVO_AVX2 inline void loadTransposed(const std::int16_t* in, V* y) {
    V p[kGroupBlocks];
    for (int b = 0; b < kGroupBlocks; ++b)
        p[b] = _mm256_loadu_si256(reinterpret_cast<const V*>(in + b * kBlockSamples));
    // An 8 x 8 transpose of the 32-bit sample pairs.
    V t[8], u[8];
    for (int b = 0; b < 8; b += 2) {
        t[b] = _mm256_unpacklo_epi32(p[b], p[b + 1]);
        t[b + 1] = _mm256_unpackhi_epi32(p[b], p[b + 1]);
    }
    for (int b = 0; b < 8; b += 4) {
        u[b] = _mm256_unpacklo_epi64(t[b], t[b + 2]);
        u[b + 1] = _mm256_unpackhi_epi64(t[b], t[b + 2]);
        u[b + 2] = _mm256_unpacklo_epi64(t[b + 1], t[b + 3]);
        u[b + 3] = _mm256_unpackhi_epi64(t[b + 1], t[b + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        const V low = _mm256_permute2x128_si256(u[j], u[j + 4], 0x20);   // pair j
        const V high = _mm256_permute2x128_si256(u[j], u[j + 4], 0x31);  // pair j + 4
        y[2 * j] = _mm256_srai_epi32(_mm256_slli_epi32(low, 16), 16);
        y[2 * j + 1] = _mm256_srai_epi32(low, 16);
        y[2 * j + 8] = _mm256_srai_epi32(_mm256_slli_epi32(high, 16), 16);
        y[2 * j + 9] = _mm256_srai_epi32(high, 16);
    }
}

// The level magnitudes without the three terms that use the carried sample, and the parts of
// the mode requirements built from them.
struct GroupLevels {
    V r3, r15, r0;  // R3, R15, R0 but for the first half's carried-sample terms
    V needB, needC, needD, needE, needF;  // the requirements' terms without R3, R15, R0
};

template <int N>
KORVO_AVX2 inline GroupLevels measure(const V* y) {
    GroupLevels l;
    const V m7 = either(magnitude(y[7]), magnitude(y[15]));
    const V m3 = either(magnitude(y[3]), magnitude(y[11]));
    const V m15 = either(magnitude(y[1]), magnitude(y[5]), magnitude(y[9]), magnitude(y[13]));
    // The second half is measured from input sample 7.
    l.r3 = residual(y[11], y[7], y[15]);
    l.r15 = either(residual(y[5], y[3], y[7]), residual(y[9], y[7], y[11]),
                   residual(y[13], y[11], y[15]));
    l.r0 = either(either(residual(y[2], y[1], y[3]), residual(y[4], y[3], y[5]),
                         residual(y[6], y[5], y[7]), residual(y[8], y[7], y[9])),
                  residual(y[10], y[9], y[11]), residual(y[12], y[11], y[13]),
                  residual(y[14], y[13], y[15]));
    const V floor = splat(3 << (N - 4));
    l.needB = either(_mm256_srai_epi32(either(m7, m3, m15, splat(0x7FE)), 1), floor);
    if constexpr (N == 4)
        l.needB = either(l.needB, splat(0x3FFF));
    l.needC = either(_mm256_srai_epi32(either(m7, m3, splat(0x3FC)), 2), floor);
    l.needD = either(_mm256_srai_epi32(either(m7, splat(0x3F0)), 4), floor);
    l.needE = either(_mm256_srai_epi32(either(m7, splat(0x3C0)), 6), floor);
    l.needF = either(_mm256_srai_epi32(either(m7, splat(0x180)), 7), floor);
    if constexpr (N != 4)
        l.needF = either(l.needF, splat(7));
    return l;
}

// The winning requirement and its mode (0 to 4 for B to F) of every lane, with carried samples c.
struct Winner {
    V need, mode;
};

// A later mode wins only with a strictly lower highest set bit.
KORVO_AVX2 inline void challenge(Winner& w, V need, int mode) {
    const V wins = greater(andNot(w.need, need), need);
    w.need = select(wins, need, w.need);
    w.mode = select(wins, splat(mode), w.mode);
}

template <int N>
KORVO_AVX2 inline Winner choose(const GroupLevels& l, const V* y, V c) {
    const V r3 = either(l.r3, residual(y[3], c, y[7]));
    const V r15 = either(l.r15, residual(y[1], c, y[3]));
    const V r0 = either(l.r0, residual(y[0], c, y[1]));
    // 2 * R0, the largest requirement there is where that overflows.
    const V twoR0 =
        select(greater(r0, splat(0x3FFFFFFF)), splat(0x7FFFFFFF), _mm256_slli_epi32(r0, 1));
    const V halfR15 = _mm256_srai_epi32(r15, 1);
    const V quarterR3 = _mm256_srai_epi32(r3, 2);
    const V common = either(halfR15, twoR0);
    const V needB = either(l.needB, r0);
    const V needC = either(l.needC, halfR15, r0);
    V needD = either(l.needD, _mm256_srai_epi32(r3, 3), common);
    const V needD10 = either(_mm256_srai_epi32(either(r15, splat(0x1FFE)), 1), twoR0);
    needD = select(greater(needD, splat(0x7FF)), needD10, needD);
    const V needE = either(l.needE, quarterR3, common);
    const V needF = either(l.needF, quarterR3, r15, twoR0);

    Winner w{needB, _mm256_setzero_si256()};
    challenge(w, needC, 1);
    challenge(w, needD, 2);
    challenge(w, needE, 3);
    challenge(w, needF, 4);
    return w;
}

// p from the winning requirement: one less than the index of its highest bit, at most 13. The
// floor in every requirement keeps it at n - 4 or more; below 2^14 the conversion to float is
// exact, so its exponent is the index of the highest bit.
KORVO_AVX2 inline V parameterOf(V need) {
    const V limited = _mm256_min_epi32(need, splat(1 << 14));
    const V exponent = _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(limited)), 23);
    return sub(exponent, splat(128));
}

// The reconstruction of a directly coded sample 7 (fine in mode A): the carried sample of what
// follows it.
template <int N>
KORVO_AVX2 inline V directSeven(V y, V p) {
    const V shift = add(sub(p, splat(N - 4)), equal(p, splat(kTopParameter)));
    return either(both(y, _mm256_sllv_epi32(splat(-1), shift)),
                  _mm256_srli_epi32(_mm256_sllv_epi32(splat(1), shift), 1));
}

// The carried samples of the lanes when each block's last reconstruction is last: the first
// lane takes the group's carried sample.
KORVO_AVX2 inline V carriedFrom(V last, V first) {
    return _mm256_blend_epi32(
        _mm256_permutevar8x32_epi32(last, _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6)), first, 0x01);
}

// Every lane's step and which of its samples are corrections.
struct LaneStep {
    V layout, shift, mask, half;
    V fineShift, fineMask, fineHalf;  // the step of mode A's fine fields; the plain step elsewhere
    V signBase;                       // shift - 1: a field's sign bit less its width
    V stepBits, twoHalves;
    V threeCorrected, oneFiveCorrected, evensCorrected;
};

template <int N>
KORVO_AVX2 inline LaneStep laneStep(const Winner& w, V p) {
    LaneStep s;
    // B, C, D, E, F, with D10 and E8 for their parameters and A for parameter 13.
    V layout = _mm256_permutevar8x32_epi32(_mm256_setr_epi32(1, 2, 3, 5, 7, 7, 7, 7), w.mode);
    const V variant = either(both(equal(w.mode, splat(2)), equal(p, splat(10))),
                             both(equal(w.mode, splat(3)), equal(p, splat(8))));
    layout = sub(layout, variant);
    const V isA = equal(p, splat(kTopParameter));
    s.layout = andNot(layout, isA);
    s.shift = sub(p, splat(N - 4));
    s.mask = _mm256_sllv_epi32(splat(-1), s.shift);
    s.half = _mm256_srli_epi32(_mm256_sllv_epi32(splat(1), s.shift), 1);
    s.fineShift = add(s.shift, isA);
    s.fineMask = select(isA, _mm256_srai_epi32(s.mask, 1), s.mask);
    s.fineHalf = select(isA, _mm256_srli_epi32(s.half, 1), s.half);
    s.signBase = sub(s.shift, splat(1));
    s.stepBits = both(s.mask, splat(0xFFFF));
    s.twoHalves = add(s.half, s.half);
    s.evensCorrected = andNot(splat(-1), isA);
    s.oneFiveCorrected = greater(s.layout, splat(1));
    s.threeCorrected = andNot(greater(s.layout, splat(2)), equal(s.layout, splat(4)));
    return s;
}

// One half of every lane being quantised: reconstructions s and quantised values q of its
// samples, and its bit string as two 32-bit words.
template <int N>
struct HalfLanes {
    const GroupTables& tables;
    const LaneStep& step;
    V s[kHalfSamples];
    V q[kHalfSamples];

    static constexpr bool fineInA(int k) { return isFine(Layout::A, N, k); }

    KORVO_AVX2 void direct(int k, V y) {
        q[k] = fineInA(k) ? either(both(y, step.fineMask), step.fineHalf)
                          : either(both(y, step.mask), step.half);
        s[k] = q[k];
    }

    // Sample k as a correction to the mean of u and w where corrected is set, kept direct
    // elsewhere; as BlockEncoder's one-block kernels quantise it.
    KORVO_AVX2 void correct(int k, V y, V u, V w, V corrected) {
        const V d = mean(u, w);
        const V r = sub(y, d);
        const V signBit = add(byLayout(tables.fieldBits[k], step.layout), step.signBase);
        const V fits = equal(_mm256_srav_epi32(r, signBit), _mm256_srai_epi32(r, 31));
        V plain = either(both(r, step.mask), step.half);
        V g = add(d, plain);
        // Reconstructions outside -32767..32767 (INT_MIN included) need a closer look.
        const V bound = splat(32768);
        const V edge = equal(_mm256_min_epu32(_mm256_abs_epi32(g), bound), bound);
        const V rare = andNot(corrected, andNot(fits, edge));
        if (!_mm256_testz_si256(rare, rare)) {
            // Outside the field: its largest value for a positive correction, else its smallest.
            const V one = splat(1);
            const V below = sub(_mm256_sllv_epi32(one, signBit), one);
            const V saturated = either(select(greater(r, _mm256_setzero_si256()),
                                              both(step.mask, below), andNot(step.mask, below)),
                                       step.half);
            // Outside the 16-bit range: reflected back inside.
            const V outside = either(greater(g, splat(32767)), greater(splat(-32768), g));
            const V reflected = sub(_mm256_xor_si256(g, step.stepBits), d);
            // On -32768 between two odd neighbours: one step up.
            const V lowest = equal(g, splat(-32768));
            const V raise = both(both(lowest, equal(both(both(u, w), one), one)), step.twoHalves);
            const V kept = select(outside, reflected, add(plain, raise));
            plain = select(fits, kept, saturated);
            g = add(d, plain);
        }
        q[k] = select(corrected, plain, q[k]);
        s[k] = select(corrected, g, s[k]);
    }

    // Encodes y[0..7] predicted from a; the reconstruction of sample 7 is s[7].
    KORVO_AVX2 void encode(const V* y, V a) {
        for (int k = 0; k < kHalfSamples; ++k)
            direct(k, y[k]);
        correct(3, y[3], a, s[7], step.threeCorrected);
        correct(1, y[1], a, s[3], step.oneFiveCorrected);
        correct(5, y[5], s[3], s[7], step.oneFiveCorrected);
        correct(0, y[0], a, s[1], step.evensCorrected);
        correct(2, y[2], s[1], s[3], step.evensCorrected);
        correct(4, y[4], s[3], s[5], step.evensCorrected);
        correct(6, y[6], s[5], s[7], step.evensCorrected);
    }

    // The half string: high is its bits 32-63, low its bits 0-31.
    KORVO_AVX2 void pack(V& high, V& low) const {
        high = _mm256_setzero_si256();
        low = _mm256_setzero_si256();
        for (int k = 0; k < kHalfSamples; ++k) {
            const V shift = fineInA(k) ? step.fineShift : step.shift;
            const V value =
                both(_mm256_srav_epi32(q[k], shift), byLayout(tables.valueMask[k], step.layout));
            low = either(low, _mm256_sllv_epi32(value, byLayout(tables.lowLeft[k], step.layout)));
            high = either(high, _mm256_sllv_epi32(value, byLayout(tables.highLeft[k], step.layout)),
                          _mm256_srlv_epi32(value, byLayout(tables.highRight[k], step.layout)));
        }
    }
};

// Writes the eight blocks from their half strings, in order, each 16 bytes wide so that the
// next block overwrites what lies past the one before.
template <int N>
KORVO_AVX2 inline void storeBlocks(V firstHigh, V firstLow, V secondHigh, V secondLow,
                                   std::uint8_t* out) {
    static constexpr auto kShuffle = blockShuffle<N>();
    const V control = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShuffle.data())));
    const V first01 = _mm256_unpacklo_epi32(firstLow, firstHigh);  // blocks 0, 1 | 4, 5
    const V first23 = _mm256_unpackhi_epi32(firstLow, firstHigh);  // blocks 2, 3 | 6, 7
    const V second01 = _mm256_unpacklo_epi32(secondLow, secondHigh);
    const V second23 = _mm256_unpackhi_epi32(secondLow, secondHigh);
    const V blocks[4] = {
        _mm256_shuffle_epi8(_mm256_unpacklo_epi64(first01, second01), control),  // 0 | 4
        _mm256_shuffle_epi8(_mm256_unpackhi_epi64(first01, second01), control),  // 1 | 5
        _mm256_shuffle_epi8(_mm256_unpacklo_epi64(first23, second23), control),  // 2 | 6
        _mm256_shuffle_epi8(_mm256_unpackhi_epi64(first23, second23), control),  // 3 | 7
    };
    constexpr int kBytes = 2 * N;
    for (int b = 0; b < 4; ++b)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + b * kBytes),
                         _mm256_castsi256_si128(blocks[b]));
    for (int b = 0; b < 4; ++b)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (b + 4) * kBytes),
                         _mm256_extracti128_si256(blocks[b], 1));
}

template <int N>
KORVO_AVX2 std::int32_t encodeGroups(const std::int16_t* in, std::uint8_t* out, std::size_t groups,
                                     std::int32_t carried) {
    const GroupTables& tables = kGroupTables[N - kMinWidth];
    for (std::size_t g = 0; g < groups; ++g) {
        V y[kBlockSamples];
        loadTransposed(in + g * kGroupBlocks * kBlockSamples, y);
        const GroupLevels levels = measure<N>(y);

        // Settle the carried samples, starting from the guess of the input sample 15 before.
        const V first = splat(carried);
        V c = carriedFrom(y[15], first);
        Winner w = choose<N>(levels, y, c);
        V p = parameterOf(w.need);
        for (int round = 0; round < kGroupBlocks; ++round) {
            const V settled = carriedFrom(directSeven<N>(y[15], p), first);
            if (_mm256_movemask_ps(_mm256_castsi256_ps(equal(settled, c))) == 0xFF)
                break;
            c = settled;
            w = choose<N>(levels, y, c);
            p = parameterOf(w.need);
        }

        const LaneStep step = laneStep<N>(w, p);
        HalfLanes<N> firstHalf{tables, step, {}, {}};
        HalfLanes<N> secondHalf{tables, step, {}, {}};
        firstHalf.encode(y, c);
        secondHalf.encode(y + kHalfSamples, firstHalf.s[7]);

        V firstHigh, firstLow, secondHigh, secondLow;
        firstHalf.pack(firstHigh, firstLow);
        secondHalf.pack(secondHigh, secondLow);
        const V code =
            _mm256_i32gather_epi32(tables.header, add(_mm256_slli_epi32(p, 3), step.layout), 4);
        firstHigh = either(firstHigh, _mm256_slli_epi32(both(code, splat(0xF0)), 24));
        secondHigh = either(secondHigh, _mm256_slli_epi32(both(code, splat(0x0F)), 28));
        storeBlocks<N>(firstHigh, firstLow, secondHigh, secondLow, out + g * kGroupBlocks * 2 * N);
        carried = _mm256_extract_epi32(secondHalf.s[7], 7);
    }
    return carried;
}

}  // namespace

std::int32_t encodeBlockGroupsAvx2(const std::int16_t* in, std::uint8_t* out, std::size_t groups,
                                   std::int32_t carried, int width) {
    return withWidth(
        width, [&](auto n) { return encodeGroups<decltype(n)::value>(in, out, groups, carried); },
        [&] { return carried; });
}

}  // namespace korvo::block

#endif  // KORVO_CODEC_HAS_AVX2
