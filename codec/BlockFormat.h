#pragma once
// The recorder's compressed block format, in one place: how the 2n bytes of one channel's block
// split into two halves of 8 samples, the 8-bit mode code that selects a half's layout and
// scale parameter, the field widths of every layout, and the header code the encoder writes.
// The decoder and the encoder take every bit position from here.
//
// A half is a string of 8n bits (its n bytes, most significant bit first): a header of 2, 3 or
// 4 bits, then eight two's-complement fields for the samples 7, 6, 5, ..., 0. The top nibble of
// the first half and the top nibble of the second half form the mode code; bits of a nibble
// beyond the header already belong to the sample-7 field of that half.

#include <array>
#include <cstdint>
#include <type_traits>

namespace korvo::block {

inline constexpr int kMinWidth = 4;
inline constexpr int kMaxWidth = 8;
inline constexpr int kHalfSamples = 8;
inline constexpr int kBlockSamples = 16;

constexpr bool isDecodableWidth(int width) { return width >= kMinWidth && width <= kMaxWidth; }

// Calls `kernel` with the width as a compile-time constant (std::integral_constant<int, 4..8>),
// so that each width runs code of its own; `otherwise` answers for a width the codec lacks.
template <typename Kernel, typename Otherwise>
std::invoke_result_t<Otherwise> withWidth(int width, Kernel&& kernel, Otherwise&& otherwise) {
    switch (width) {
        case 4: return kernel(std::integral_constant<int, 4>{});
        case 5: return kernel(std::integral_constant<int, 5>{});
        case 6: return kernel(std::integral_constant<int, 6>{});
        case 7: return kernel(std::integral_constant<int, 7>{});
        case 8: return kernel(std::integral_constant<int, 8>{});
        default: return otherwise();
    }
}

// The nine field layouts. D10 is mode D with parameter 10 (samples 7 and 3 both direct, a 4-bit
// header); E8 is mode E with parameter 8 (a 3-bit header).
enum class Layout : std::uint8_t { A, B, C, D, D10, E, E8, F, G };
inline constexpr int kLayoutCount = 9;

constexpr char modeLetter(Layout layout) {
    constexpr char letters[kLayoutCount] = {'A', 'B', 'C', 'D', 'D', 'E', 'E', 'F', 'G'};
    return letters[static_cast<int>(layout)];
}

// How a half's samples are predicted, coarse positions first (7, 3, 1 and 5, then the evens).
enum class Prediction : std::uint8_t {
    Direct,      // A: every sample coded directly (PCM)
    OddsDirect,  // B: 7, 3, 1, 5 direct; evens from their neighbours
    ThreeDirect, // C, D10: 7 and 3 direct; 1, 5 and the evens from their neighbours
    SevenDirect, // D (4 to 9), E, F, G: only 7 direct
};

constexpr Prediction predictionOf(Layout layout) {
    switch (layout) {
    case Layout::A: return Prediction::Direct;
    case Layout::B: return Prediction::OddsDirect;
    case Layout::C:
    case Layout::D10: return Prediction::ThreeDirect;
    default: return Prediction::SevenDirect;
    }
}

// Modes D, E and F limit the stored samples 2 and 4 from above to 32767 (no lower limit).
constexpr bool limitsSamplesTwoAndFour(Layout layout) {
    switch (layout) {
    case Layout::D:
    case Layout::D10:
    case Layout::E:
    case Layout::E8:
    case Layout::F: return true;
    default: return false;
    }
}

// Field widths of one layout, in string order (sample 7 first, sample 0 last), and the samples
// whose fields are fine (mode A only: a step half as large).
struct LayoutRow {
    std::uint8_t header;
    std::uint8_t bits[kHalfSamples];  // bits[0] is sample 7's field, bits[7] sample 0's
    std::uint8_t fineSamples;         // bit k set: sample k's field is fine
};

// Width 8; widths 5 to 7 take every field 8 - n bits narrower, the header unchanged.
inline constexpr LayoutRow kWidth8Rows[kLayoutCount] = {
    /* A   */ {4, {8, 7, 8, 7, 8, 7, 8, 7}, 0xAA},
    /* B   */ {4, {8, 7, 8, 7, 8, 7, 8, 7}, 0},
    /* C   */ {2, {9, 7, 8, 7, 9, 7, 8, 7}, 0},
    /* D   */ {3, {11, 6, 8, 6, 10, 6, 8, 6}, 0},
    /* D10 */ {4, {10, 6, 8, 6, 10, 6, 8, 6}, 0},
    /* E   */ {2, {13, 6, 8, 6, 9, 6, 8, 6}, 0},
    /* E8  */ {3, {12, 6, 8, 6, 9, 6, 8, 6}, 0},
    /* F   */ {3, {14, 6, 7, 6, 9, 6, 7, 6}, 0},
    /* G   */ {4, {11, 7, 7, 7, 7, 7, 7, 7}, 0},
};

// Width 4: every layout but A is the width-8 row less 4 bits a field; A has a 3-bit header and
// fine fields for samples 7, 6, 4, 2 and 0.
inline constexpr LayoutRow kWidth4Rows[kLayoutCount] = {
    /* A   */ {3, {4, 4, 3, 4, 3, 4, 3, 4}, 0xD5},
    /* B   */ {4, {4, 3, 4, 3, 4, 3, 4, 3}, 0},
    /* C   */ {2, {5, 3, 4, 3, 5, 3, 4, 3}, 0},
    /* D   */ {3, {7, 2, 4, 2, 6, 2, 4, 2}, 0},
    /* D10 */ {4, {6, 2, 4, 2, 6, 2, 4, 2}, 0},
    /* E   */ {2, {9, 2, 4, 2, 5, 2, 4, 2}, 0},
    /* E8  */ {3, {8, 2, 4, 2, 5, 2, 4, 2}, 0},
    /* F   */ {3, {10, 2, 3, 2, 5, 2, 3, 2}, 0},
    /* G   */ {4, {7, 3, 3, 3, 3, 3, 3, 3}, 0},
};

// Header length of a layout at a width.
constexpr int headerBits(Layout layout, int width) {
    return width == 4 ? kWidth4Rows[static_cast<int>(layout)].header
                      : kWidth8Rows[static_cast<int>(layout)].header;
}

// Width of sample k's field (k = 0 to 7) in a layout at a width.
constexpr int fieldBits(Layout layout, int width, int sample) {
    const int column = kHalfSamples - 1 - sample;
    if (width == 4) return kWidth4Rows[static_cast<int>(layout)].bits[column];
    return kWidth8Rows[static_cast<int>(layout)].bits[column] - (8 - width);
}

constexpr bool isFine(Layout layout, int width, int sample) {
    const LayoutRow& row = width == 4 ? kWidth4Rows[static_cast<int>(layout)]
                                      : kWidth8Rows[static_cast<int>(layout)];
    return ((row.fineSamples >> sample) & 1) != 0;
}

// Position in the half's bit string (0 = top bit of the half's first byte) of the first bit of
// sample k's field.
constexpr int fieldStart(Layout layout, int width, int sample) {
    int start = headerBits(layout, width);
    for (int k = kHalfSamples - 1; k > sample; --k) start += fieldBits(layout, width, k);
    return start;
}

// Byte of the block that holds byte i (0 to n - 1) of a half. Width 4: the first half is bytes
// 0 to 3, the second 4 to 7. Widths 5 to 8: byte pairs alternate between the halves (pairs 0, 2,
// 4, 6 to the first half); for odd n the last pair is split, its second byte, the block's last,
// going to the second half.
constexpr int halfByteIndex(int half, int i, int width) {
    if (width == 4) return half * 4 + i;
    if (half == 1 && i == width - 1 && (width & 1) != 0) return 2 * width - 1;
    return 4 * (i / 2) + 2 * half + (i % 2);
}

// Byte shuffle from the two half strings (the first in bytes 0-7, the second in 8-15, each a
// little-endian 64-bit number) to the block's bytes; bytes past the block are 0.
template <int N>
constexpr std::array<std::uint8_t, 16> blockShuffle() {
    std::array<std::uint8_t, 16> control{};
    control.fill(0x80);
    for (int half = 0; half < 2; ++half)
        for (int i = 0; i < N; ++i)
            control[halfByteIndex(half, i, N)] = static_cast<std::uint8_t>(8 * half + 7 - i);
    return control;
}

// What an 8-bit mode code (first half's top nibble high) selects.
struct ModeChoice {
    Layout layout;
    std::int8_t parameter;
};

constexpr ModeChoice modeOfCode(unsigned code, int width) {
    const unsigned first = (code >> 4) & 0xF;
    const unsigned second = code & 0xF;
    const auto choice = [](Layout layout, int parameter) {
        return ModeChoice{layout, static_cast<std::int8_t>(parameter)};
    };
    // Two-bit headers (00, 01, 10), the same at every width.
    switch (first >> 2) {
    case 0: return choice(Layout::E, 2 + static_cast<int>(second >> 2));
    case 1: {
        constexpr ModeChoice row01[4] = {{Layout::E, 6}, {Layout::E, 7}, {Layout::C, 6},
                                         {Layout::C, 7}};
        return row01[second >> 2];
    }
    case 2: return choice(Layout::C, 8 + static_cast<int>(second >> 2));
    default: break;
    }
    const int x = static_cast<int>(second >> 1);  // the second half's three header bits
    if ((first >> 1) == 6) {                       // 110
        if (width == 4) return x <= 6 ? choice(Layout::F, x) : choice(Layout::E8, 8);
        if (x <= 5) return choice(Layout::F, 1 + x);
        return x == 6 ? choice(Layout::E8, 8) : choice(Layout::D, 4);
    }
    // 111
    if (width == 4) {
        if (x <= 5) return choice(Layout::D, 4 + x);
        if (x == 6) return choice(Layout::A, 13);
        if (first == 0xE) return choice(Layout::G, second == 0xE ? 0 : 1);
        return second == 0xE ? choice(Layout::D10, 10) : choice(Layout::B, 12);
    }
    if (x <= 4) return choice(Layout::D, 5 + x);
    if (first == 0xE) {
        return second == 0xF ? choice(Layout::A, 13)
                             : choice(Layout::B, static_cast<int>(second) - 2);
    }
    constexpr ModeChoice row1111[6] = {{Layout::D10, 10}, {Layout::G, 0},  {Layout::G, 1},
                                       {Layout::G, -3},   {Layout::G, -2}, {Layout::G, -1}};
    return row1111[second - 0xA];
}

// The mode code the encoder writes for a layout and parameter, header bits only: the bits of
// each nibble beyond the header are 0, so OR-ing the code's nibbles into the top of the two
// halves keeps the sample-7 field bits that share those nibbles. Not defined for mode G, which
// the encoder never writes.
constexpr unsigned headerCode(Layout layout, int parameter, int width) {
    const bool narrow = width == 4;
    const auto nibbles = [](unsigned firstByte, unsigned secondByte) {
        return (firstByte & 0xF0) | ((secondByte & 0xF0) >> 4);
    };
    unsigned k = 0;
    switch (layout) {
    case Layout::A:  // four header bits, but at width 4 the code byte 0xEC holds a 3-bit header
        k = narrow ? 0xEC : 0xEF;
        return nibbles(k & 0xF0, k << 4);
    case Layout::B:
        k = narrow ? 0xFF : static_cast<unsigned>(parameter + 0xE2);
        return nibbles(k & 0xF0, k << 4);
    case Layout::D10:
        k = narrow ? 0xFE : 0xFA;
        return nibbles(k & 0xF0, k << 4);
    case Layout::D:
        k = static_cast<unsigned>(parameter + (narrow ? 0x34 : 0x33));
        return nibbles((k & 0xF8) << 2, k << 5);
    case Layout::E8:
        k = narrow ? 0x37 : 0x36;
        return nibbles((k & 0xF8) << 2, k << 5);
    case Layout::F:
        k = static_cast<unsigned>(parameter + (narrow ? 0x30 : 0x2F));
        return nibbles((k & 0xF8) << 2, k << 5);
    case Layout::C:
        k = static_cast<unsigned>(parameter);
        return nibbles((k & 0xFC) << 4, k << 6);
    case Layout::E:
        k = static_cast<unsigned>(parameter - 2);
        return nibbles((k & 0xFC) << 4, k << 6);
    case Layout::G: break;
    }
    return 0;
}

}  // namespace korvo::block
