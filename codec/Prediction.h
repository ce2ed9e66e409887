#pragma once
// The 32-bit arithmetic that the recorder's decoder predicts with, shared by the decoder and the
// encoder so that both reconstruct the very same values. Every sum wraps as signed 32-bit
// two's-complement arithmetic does on the recorder; it is written through unsigned integers so
// that a wrap is defined behaviour rather than an accident of the compiler.

#include <cstdint>

namespace korvo::block {

// x + y, wrapping at 32 bits.
constexpr std::int32_t wrapAdd(std::int32_t x, std::int32_t y) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(x) + static_cast<std::uint32_t>(y));
}

// x - y, wrapping at 32 bits.
constexpr std::int32_t wrapSub(std::int32_t x, std::int32_t y) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(x) - static_cast<std::uint32_t>(y));
}

// The prediction of a sample from its two neighbours: their 32-bit sum shifted arithmetically
// right by one, so the half of the sum rounded towards minus infinity.
constexpr std::int32_t mean(std::int32_t x, std::int32_t y) { return wrapAdd(x, y) >> 1; }

// The level magnitude of a value: v itself when v >= 0, otherwise its bitwise complement
// (-v - 1). OR-ing magnitudes keeps the highest bit any of them needs.
constexpr std::int32_t magnitude(std::int32_t v) { return v ^ (v >> 31); }

// -1 shifted left by count, and 1 shifted left by count, without shifting a negative value.
constexpr std::int32_t lowBitsCleared(int count) {
    return static_cast<std::int32_t>(~std::uint32_t{0} << count);
}
constexpr std::int32_t bitAt(int count) {
    return static_cast<std::int32_t>(std::uint32_t{1} << count);
}

}  // namespace korvo::block
