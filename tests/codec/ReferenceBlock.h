#pragma once
// A slow, literal reading of the recorder's block format for the codec tests: bit strings as
// vectors of bits, the mode table as the header patterns it is written in, 64-bit arithmetic
// wrapped to 32 bits after every sum. It shares no code or table with codec/, so the decoder and
// the encoder are checked against an independent statement of the same format. Also builds
// blocks from header patterns and field values.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace korvo::reference {

using Bits = std::vector<int>;

// Byte of the block holding byte i of a half, written out as the table of the format.
inline const std::vector<int>& halfBytes(int width, int half) {
    static const std::vector<int> table[5][2] = {
        {{0, 1, 2, 3}, {4, 5, 6, 7}},
        {{0, 1, 4, 5, 8}, {2, 3, 6, 7, 9}},
        {{0, 1, 4, 5, 8, 9}, {2, 3, 6, 7, 10, 11}},
        {{0, 1, 4, 5, 8, 9, 12}, {2, 3, 6, 7, 10, 11, 13}},
        {{0, 1, 4, 5, 8, 9, 12, 13}, {2, 3, 6, 7, 10, 11, 14, 15}},
    };
    return table[width - 4][half];
}

inline Bits halfBits(const std::uint8_t* block, int width, int half) {
    Bits bits;
    for (int index : halfBytes(width, half))
        for (int b = 7; b >= 0; --b) bits.push_back((block[index] >> b) & 1);
    return bits;
}

struct Mode {
    char letter;
    int parameter;
    int header;
};

struct Row {
    const char* first;
    const char* second;  // 'x' bits add to the parameter, up to xMax
    char letter;
    int parameter;
    int xMax;
};

inline const std::vector<Row>& modeRows(int width) {
    static const std::vector<Row> wide = {
        {"00", "xx", 'E', 2, 3},     {"01", "00", 'E', 6, 0},     {"01", "01", 'E', 7, 0},
        {"01", "10", 'C', 6, 0},     {"01", "11", 'C', 7, 0},     {"10", "xx", 'C', 8, 3},
        {"110", "xxx", 'F', 1, 5},   {"110", "110", 'E', 8, 0},   {"110", "111", 'D', 4, 0},
        {"111", "xxx", 'D', 5, 4},   {"1110", "1010", 'B', 8, 0}, {"1110", "1011", 'B', 9, 0},
        {"1110", "1100", 'B', 10, 0}, {"1110", "1101", 'B', 11, 0}, {"1110", "1110", 'B', 12, 0},
        {"1110", "1111", 'A', 13, 0}, {"1111", "1010", 'D', 10, 0}, {"1111", "1011", 'G', 0, 0},
        {"1111", "1100", 'G', 1, 0}, {"1111", "1101", 'G', -3, 0}, {"1111", "1110", 'G', -2, 0},
        {"1111", "1111", 'G', -1, 0},
    };
    static const std::vector<Row> narrow = {
        {"00", "xx", 'E', 2, 3},     {"01", "00", 'E', 6, 0},     {"01", "01", 'E', 7, 0},
        {"01", "10", 'C', 6, 0},     {"01", "11", 'C', 7, 0},     {"10", "xx", 'C', 8, 3},
        {"110", "xxx", 'F', 0, 6},   {"110", "111", 'E', 8, 0},   {"111", "xxx", 'D', 4, 5},
        {"111", "110", 'A', 13, 0},  {"1110", "1110", 'G', 0, 0}, {"1110", "1111", 'G', 1, 0},
        {"1111", "1110", 'D', 10, 0}, {"1111", "1111", 'B', 12, 0},
    };
    return width == 4 ? narrow : wide;
}

inline bool matches(const Bits& bits, const std::string& pattern, int& x) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == 'x') {
            x = 2 * x + bits[i];
        } else if (bits[i] != pattern[i] - '0') {
            return false;
        }
    }
    return true;
}

// Finds the one row of the mode table whose header patterns both halves start with.
inline Mode modeOf(const Bits& first, const Bits& second, int width) {
    std::optional<Mode> found;
    for (const Row& row : modeRows(width)) {
        int x = 0;
        if (!matches(first, row.first, x) || !matches(second, row.second, x) || x > row.xMax)
            continue;
        if (found) throw std::logic_error("two rows of the mode table match");
        found = Mode{row.letter, row.parameter + x, static_cast<int>(std::string(row.first).size())};
    }
    if (!found) throw std::logic_error("no row of the mode table matches");
    return *found;
}

struct Field {
    int bits;
    bool fine;
};

// Fields of a half in string order (sample 7 first), as the width tables give them.
inline std::vector<Field> fieldsOf(const Mode& mode, int width) {
    std::string row;
    const bool d10 = mode.letter == 'D' && mode.parameter == 10;
    const bool e8 = mode.letter == 'E' && mode.parameter == 8;
    if (width == 4) {
        switch (mode.letter) {
        case 'A': row = "4f 4f 3 4f 3 4f 3 4f"; break;
        case 'B': row = "4 3 4 3 4 3 4 3"; break;
        case 'C': row = "5 3 4 3 5 3 4 3"; break;
        case 'D': row = d10 ? "6 2 4 2 6 2 4 2" : "7 2 4 2 6 2 4 2"; break;
        case 'E': row = e8 ? "8 2 4 2 5 2 4 2" : "9 2 4 2 5 2 4 2"; break;
        case 'F': row = "10 2 3 2 5 2 3 2"; break;
        default: row = "7 3 3 3 3 3 3 3"; break;
        }
    } else {
        switch (mode.letter) {
        case 'A': row = "8f 7 8f 7 8f 7 8f 7"; break;
        case 'B': row = "8 7 8 7 8 7 8 7"; break;
        case 'C': row = "9 7 8 7 9 7 8 7"; break;
        case 'D': row = d10 ? "10 6 8 6 10 6 8 6" : "11 6 8 6 10 6 8 6"; break;
        case 'E': row = e8 ? "12 6 8 6 9 6 8 6" : "13 6 8 6 9 6 8 6"; break;
        case 'F': row = "14 6 7 6 9 6 7 6"; break;
        default: row = "11 7 7 7 7 7 7 7"; break;
        }
    }
    std::vector<Field> fields;
    std::size_t at = 0;
    while (at < row.size()) {
        std::size_t used = 0;
        int bits = std::stoi(row.substr(at), &used);
        at += used;
        const bool fine = at < row.size() && row[at] == 'f';
        if (fine) ++at;
        if (width != 4) bits -= 8 - width;
        fields.push_back({bits, fine});
        while (at < row.size() && row[at] == ' ') ++at;
    }
    return fields;
}

inline std::int64_t floorDiv(std::int64_t v, std::int64_t d) {
    std::int64_t q = v / d;
    if ((v % d != 0) && ((v < 0) != (d < 0))) --q;
    return q;
}

inline std::int64_t wrap32(std::int64_t v) {
    v %= 4294967296LL;
    if (v < 0) v += 4294967296LL;
    return v >= 2147483648LL ? v - 4294967296LL : v;
}

inline std::int16_t wrap16(std::int64_t v) {
    v %= 65536;
    if (v < 0) v += 65536;
    return static_cast<std::int16_t>(v >= 32768 ? v - 65536 : v);
}

inline std::int64_t mean(std::int64_t x, std::int64_t y) { return floorDiv(wrap32(x + y), 2); }

// Decodes one half: string bits, carried sample a; writes 8 samples, returns s7.
inline std::int64_t decodeHalf(const Bits& bits, const Mode& mode, int width, std::int64_t a,
                               std::int16_t* out) {
    const std::vector<Field> fields = fieldsOf(mode, width);
    std::int64_t q[8];
    std::size_t at = static_cast<std::size_t>(mode.header);
    for (int f = 0; f < 8; ++f) {
        const Field& field = fields[f];
        std::int64_t v = 0;
        for (int b = 0; b < field.bits; ++b) v = 2 * v + bits[at++];
        if (v >= (std::int64_t{1} << (field.bits - 1))) v -= std::int64_t{1} << field.bits;
        const int e = mode.parameter + 4 - width - (field.fine ? 1 : 0);
        std::int64_t value;
        if (e >= 1) {
            value = v * (std::int64_t{1} << e) + (std::int64_t{1} << (e - 1));
        } else if (e == 0) {
            value = v;
        } else {
            value = floorDiv(v, std::int64_t{1} << -e);
        }
        q[7 - f] = value;
    }
    if (at != bits.size()) throw std::logic_error("fields do not fill the half");
    std::int64_t s[8];
    const char m = mode.letter;
    const bool threeDirect = m == 'C' || (m == 'D' && mode.parameter == 10);
    s[7] = q[7];
    if (m == 'A') {
        for (int k = 0; k < 7; ++k) s[k] = q[k];
    } else {
        if (m == 'B' || threeDirect) {
            s[3] = q[3];
        } else {
            s[3] = wrap32(q[3] + mean(a, s[7]));
        }
        if (m == 'B') {
            s[1] = q[1];
            s[5] = q[5];
        } else {
            s[1] = wrap32(q[1] + mean(a, s[3]));
            s[5] = wrap32(q[5] + mean(s[3], s[7]));
        }
        s[0] = wrap32(q[0] + mean(a, s[1]));
        s[2] = wrap32(q[2] + mean(s[1], s[3]));
        s[4] = wrap32(q[4] + mean(s[3], s[5]));
        s[6] = wrap32(q[6] + mean(s[5], s[7]));
    }
    const bool limited = m == 'D' || m == 'E' || m == 'F';
    for (int k = 0; k < 8; ++k) {
        std::int64_t v = s[k];
        if (limited && (k == 2 || k == 4) && v > 32767) v = 32767;
        out[k] = wrap16(v);
    }
    return s[7];
}

struct Decoded {
    std::int16_t samples[16];
    std::int32_t carried;
    Mode mode;
};

inline Decoded decode(const std::uint8_t* block, std::int32_t carried, int width) {
    const Bits first = halfBits(block, width, 0);
    const Bits second = halfBits(block, width, 1);
    Decoded result{};
    result.mode = modeOf(first, second, width);
    const std::int64_t middle = decodeHalf(first, result.mode, width, carried, result.samples);
    result.carried = static_cast<std::int32_t>(
        decodeHalf(second, result.mode, width, middle, result.samples + 8));
    return result;
}

// Builds a block from each half's header pattern (e.g. "1110") and its field values in sample
// order (fields[k] for sample k), using the field widths of the mode the headers select.
struct HalfFields {
    std::string header;
    std::vector<std::int64_t> fields;  // 8 values, sample 0 first
};

inline std::vector<std::uint8_t> makeBlock(int width, const HalfFields& first,
                                           const HalfFields& second) {
    std::vector<std::uint8_t> block(2 * width, 0);
    const Bits probe1(8 * width, 0), probe2(8 * width, 0);
    Bits h1 = probe1, h2 = probe2;
    for (std::size_t i = 0; i < first.header.size(); ++i) h1[i] = first.header[i] - '0';
    for (std::size_t i = 0; i < second.header.size(); ++i) h2[i] = second.header[i] - '0';
    const Mode mode = modeOf(h1, h2, width);
    const std::vector<Field> fields = fieldsOf(mode, width);
    const HalfFields* halves[2] = {&first, &second};
    for (int half = 0; half < 2; ++half) {
        Bits bits = half == 0 ? h1 : h2;
        std::size_t at = static_cast<std::size_t>(mode.header);
        for (int f = 0; f < 8; ++f) {
            const std::int64_t v = halves[half]->fields[7 - f];
            for (int b = fields[f].bits - 1; b >= 0; --b) bits[at++] = static_cast<int>((v >> b) & 1);
        }
        const std::vector<int>& index = halfBytes(width, half);
        for (int i = 0; i < width; ++i) {
            int byte = 0;
            for (int b = 0; b < 8; ++b) byte = 2 * byte + bits[8 * i + b];
            block[index[i]] = static_cast<std::uint8_t>(byte);
        }
    }
    return block;
}

// The header patterns of both halves for a mode and parameter, found in the mode table.
inline std::pair<std::string, std::string> headerFor(char letter, int parameter, int width) {
    for (const Row& row : modeRows(width)) {
        const int x = parameter - row.parameter;
        if (row.letter != letter || x < 0 || x > row.xMax) continue;
        std::string second = row.second;
        for (int i = static_cast<int>(second.size()) - 1, v = x; i >= 0; --i)
            if (second[i] == 'x') second[i] = static_cast<char>('0' + (v & 1)), v >>= 1;
        return {row.first, second};
    }
    throw std::logic_error("no header for this mode");
}

struct Encoded {
    std::vector<std::uint8_t> bytes;
    std::int32_t carried;
    char mode;
    int parameter;
};

// The encoder, step by step as the format's encoder is described.
inline Encoded encode(const std::int16_t* x, std::int32_t c, int n) {
    const auto mag = [](std::int64_t v) { return v >= 0 ? v : -v - 1; };
    std::int64_t M7 = 0, M3 = 0, M15 = 0, R3 = 0, R15 = 0, R0 = 0;
    for (int half = 0; half < 2; ++half) {
        const std::int16_t* y = x + 8 * half;
        const std::int64_t a = half == 0 ? c : x[7];
        M7 |= mag(y[7]);
        M3 |= mag(y[3]);
        M15 |= mag(y[1]) | mag(y[5]);
        R3 |= mag(y[3] - mean(a, y[7]));
        R15 |= mag(y[1] - mean(a, y[3])) | mag(y[5] - mean(y[3], y[7]));
        R0 |= mag(y[0] - mean(a, y[1])) | mag(y[2] - mean(y[1], y[3])) |
              mag(y[4] - mean(y[3], y[5])) | mag(y[6] - mean(y[5], y[7]));
    }
    const std::int64_t g0 = std::int64_t{3} << (n - 4);
    std::int64_t need[5];
    need[0] = ((M7 | M3 | M15 | 0x7FE) >> 1) | R0 | g0;
    if (n == 4) need[0] |= 0x3FFF;
    need[1] = ((M7 | M3 | 0x3FC) >> 2) | (R15 >> 1) | R0 | g0;
    need[2] = ((M7 | 0x3F0) >> 4) | (R3 >> 3) | (R15 >> 1) | 2 * R0 | g0;
    if (need[2] > 0x7FF) need[2] = ((R15 | 0x1FFE) >> 1) | 2 * R0;
    need[3] = ((M7 | 0x3C0) >> 6) | (R3 >> 2) | (R15 >> 1) | 2 * R0 | g0;
    need[4] = ((M7 | 0x180) >> 7) | (R3 >> 2) | R15 | 2 * R0 | g0;
    if (n != 4) need[4] |= 7;
    std::int64_t winner = need[0];
    for (int m = 1; m < 5; ++m)
        if (need[m] < (winner & ~need[m])) winner = need[m];
    int p = 13;
    for (std::int64_t w = winner; w < 0x4000; w *= 2) --p;
    char mode = 'A';
    if (p != 13)
        for (int m = 4; m >= 0; --m)
            if (need[m] == winner) mode = static_cast<char>('B' + m);

    const int s = p - n + 4;
    const std::int64_t step = std::int64_t{1} << s, half = step / 2;
    const Mode chosen{mode, p, 0};
    const std::vector<Field> fields = fieldsOf(chosen, n);  // string order
    const auto down = [](std::int64_t v, std::int64_t m) { return v - (v - floorDiv(v, m) * m); };
    std::vector<std::int64_t> values[2];
    std::int64_t a = c;
    for (int h = 0; h < 2; ++h) {
        const std::int16_t* y = x + 8 * h;
        std::int64_t r[8];
        std::vector<std::int64_t>& v = values[h];
        v.assign(8, 0);
        const auto direct = [&](int k) {
            const bool fine = fields[7 - k].fine;
            const std::int64_t st = fine ? step / 2 : step, hs = fine ? half / 2 : half;
            r[k] = floorDiv(y[k], st) * st + hs;
            v[k] = floorDiv(y[k], st);
        };
        const auto correct = [&](int k, std::int64_t u, std::int64_t w) {
            const int W = fields[7 - k].bits;
            const std::int64_t d = mean(u, w);
            const std::int64_t res = y[k] - d;
            std::int64_t q;
            const std::int64_t lowest = -(std::int64_t{1} << (W - 1)) * step;
            const std::int64_t highest = ((std::int64_t{1} << (W - 1)) - 1) * step;
            if (res < lowest || res >= -lowest) {
                q = (res > 0 ? highest : lowest) + half;
            } else {
                q = down(res, step) + half;
                const std::int64_t g = d + q;
                if (g < -32768 || g > 32767) {
                    // Reflect by the overshoot, as flipping the step bits of the 16-bit range does.
                    const std::int64_t flipped = (g & ~std::int64_t{0xFFFF}) |
                                                 ((g & 0xFFFF) ^ (0xFFFF & ~(step - 1)));
                    q = flipped - d;
                } else if (g == -32768 && (u & 1) && (w & 1)) {
                    q += step;
                }
            }
            r[k] = d + q;
            v[k] = floorDiv(q, step);
        };
        direct(7);
        if (mode == 'A') {
            for (int k : {3, 1, 5, 0, 2, 4, 6}) direct(k);
        } else {
            const bool threeDirect = mode == 'B' || mode == 'C' || (mode == 'D' && p == 10);
            if (threeDirect) direct(3); else correct(3, a, r[7]);
            if (mode == 'B') {
                direct(1);
                direct(5);
            } else {
                correct(1, a, r[3]);
                correct(5, r[3], r[7]);
            }
            correct(0, a, r[1]);
            correct(2, r[1], r[3]);
            correct(4, r[3], r[5]);
            correct(6, r[5], r[7]);
        }
        a = r[7];
    }
    const auto header = headerFor(mode, p, n);
    return {makeBlock(n, {header.first, values[0]}, {header.second, values[1]}),
            static_cast<std::int32_t>(a), mode, p};
}

}  // namespace korvo::reference
