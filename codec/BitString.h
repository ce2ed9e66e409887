#pragma once
// Word access for the block codec: the bytes of a block read and written as 64-bit words, so
// that a half's bit string is gathered or spread with a few word operations instead of one
// operation per byte.

#include <bit>
#include <cstdint>
#include <cstring>

namespace korvo::block {

constexpr std::uint64_t byteSwap64(std::uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap64(x);
#else
    x = ((x & 0x00FF00FF00FF00FFull) << 8) | ((x >> 8) & 0x00FF00FF00FF00FFull);
    x = ((x & 0x0000FFFF0000FFFFull) << 16) | ((x >> 16) & 0x0000FFFF0000FFFFull);
    return (x << 32) | (x >> 32);
#endif
}

// Eight bytes, the first in the low bits.
inline std::uint64_t loadLittleEndian64(const std::uint8_t* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big)
        word = byteSwap64(word);
    return word;
}

// Eight bytes, the first in the high bits.
inline std::uint64_t loadBigEndian64(const std::uint8_t* bytes) {
    return byteSwap64(loadLittleEndian64(bytes));
}

inline void storeLittleEndian64(std::uint8_t* bytes, std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::big)
        word = byteSwap64(word);
    std::memcpy(bytes, &word, sizeof word);
}

// The 16-bit units 0 and 2 of a word (bits 0-15 and 32-47) side by side in the low 32 bits.
constexpr std::uint64_t evenPairs(std::uint64_t x) {
    x &= 0x0000FFFF0000FFFFull;
    return (x | (x >> 16)) & 0xFFFFFFFFull;
}

// The inverse: the low two 16-bit units of x spread to units 0 and 2.
constexpr std::uint64_t spreadPairs(std::uint64_t x) {
    x &= 0xFFFFFFFFull;
    return (x | (x << 16)) & 0x0000FFFF0000FFFFull;
}

}  // namespace korvo::block
