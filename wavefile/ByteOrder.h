#pragma once
// Byte order of wave files at the edge: every multi-byte value of a RIFF WAVE (little-endian)
// or AIFF (big-endian) file is loaded from or stored to raw bytes through these helpers, so
// that the chunk and sample code above them never swaps bytes itself.
//
//   std::uint32_t size = loadU32(bytes + 4, ByteOrder::kLittle);
//   storeU16(out, 16, ByteOrder::kBig);

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace KorvoLib {

enum class ByteOrder { kLittle, kBig };

inline std::uint16_t loadU16(const std::uint8_t* bytes, ByteOrder order) {
    if (order == ByteOrder::kLittle) {
        return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    }
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

inline std::uint32_t loadU32(const std::uint8_t* bytes, ByteOrder order) {
    const std::uint32_t b0 = bytes[0], b1 = bytes[1], b2 = bytes[2], b3 = bytes[3];
    if (order == ByteOrder::kLittle) {
        return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
    }
    return (b0 << 24) | (b1 << 16) | (b2 << 8) | b3;
}

inline void storeU16(std::uint8_t* bytes, std::uint16_t value, ByteOrder order) {
    const auto low = static_cast<std::uint8_t>(value);
    const auto high = static_cast<std::uint8_t>(value >> 8);
    if (order == ByteOrder::kLittle) {
        bytes[0] = low;
        bytes[1] = high;
    } else {
        bytes[0] = high;
        bytes[1] = low;
    }
}

inline void storeU32(std::uint8_t* bytes, std::uint32_t value, ByteOrder order) {
    for (int i = 0; i < 4; ++i) {
        const int shift = order == ByteOrder::kLittle ? 8 * i : 8 * (3 - i);
        bytes[i] = static_cast<std::uint8_t>(value >> shift);
    }
}

// Values longer than four bytes (the 10-byte extended float of AIFF) are kept most significant
// byte first in memory; in a little-endian file they are stored reversed byte by byte.
inline void orderBytes(std::uint8_t* out, const std::uint8_t* in, std::size_t count,
                       ByteOrder order) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = order == ByteOrder::kBig ? in[i] : in[count - 1 - i];
    }
}

// A run of signed 16-bit samples from and to file bytes: a plain copy when the file's order is
// the host's, otherwise a byte swap written as a loop over independent elements, which the
// compiler turns into vector code.
inline constexpr ByteOrder kHostOrder =
    std::endian::native == std::endian::little ? ByteOrder::kLittle : ByteOrder::kBig;

inline std::uint16_t swapBytes(std::uint16_t value) {
    return static_cast<std::uint16_t>((value << 8) | (value >> 8));
}

inline void loadSamples(std::int16_t* out, const std::uint8_t* bytes, std::size_t count,
                        ByteOrder order) {
    std::memcpy(out, bytes, 2 * count);
    if (order != kHostOrder) {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = static_cast<std::int16_t>(swapBytes(static_cast<std::uint16_t>(out[i])));
        }
    }
}

inline void storeSamples(std::uint8_t* bytes, const std::int16_t* samples, std::size_t count,
                         ByteOrder order) {
    if (order == kHostOrder) {
        std::memcpy(bytes, samples, 2 * count);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t swapped = swapBytes(static_cast<std::uint16_t>(samples[i]));
        std::memcpy(bytes + 2 * i, &swapped, 2);
    }
}

}  // namespace KorvoLib
