#pragma once
// Byte order at the edge, for every file the system reads or writes: the recorder's files are
// big-endian, FAT structures and RIFF WAVE files little-endian, AIFF files big-endian. Every
// multi-byte value is loaded from or stored to raw bytes through this one family, so that the
// code above it never swaps bytes itself.
//
//   std::uint16_t count = readBigEndian16(bytes);          // recorder files
//   writeLittleEndian32(entry + 28, size);                 // FAT directory entries
//   std::uint32_t size = loadU32(bytes + 4, ByteOrder::kLittle);   // wave chunks, either order

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvo {

constexpr std::uint16_t readBigEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

constexpr std::uint32_t readBigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

constexpr std::uint16_t readLittleEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

constexpr std::uint32_t readLittleEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

constexpr void writeBigEndian16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value >> 8);
    bytes[1] = static_cast<std::uint8_t>(value);
}

constexpr void writeBigEndian32(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value >> 24);
    bytes[1] = static_cast<std::uint8_t>(value >> 16);
    bytes[2] = static_cast<std::uint8_t>(value >> 8);
    bytes[3] = static_cast<std::uint8_t>(value);
}

constexpr void writeLittleEndian16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr void writeLittleEndian32(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
    bytes[2] = static_cast<std::uint8_t>(value >> 16);
    bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace korvo

namespace KorvoLib {

enum class ByteOrder { kLittle, kBig };

// The same with the byte order chosen at run time, as a wave file's chunks need.
inline std::uint16_t loadU16(const std::uint8_t* bytes, ByteOrder order) {
    return order == ByteOrder::kLittle ? korvo::readLittleEndian16(bytes)
                                       : korvo::readBigEndian16(bytes);
}

inline std::uint32_t loadU32(const std::uint8_t* bytes, ByteOrder order) {
    return order == ByteOrder::kLittle ? korvo::readLittleEndian32(bytes)
                                       : korvo::readBigEndian32(bytes);
}

inline void storeU16(std::uint8_t* bytes, std::uint16_t value, ByteOrder order) {
    if (order == ByteOrder::kLittle) {
        korvo::writeLittleEndian16(bytes, value);
    } else {
        korvo::writeBigEndian16(bytes, value);
    }
}

inline void storeU32(std::uint8_t* bytes, std::uint32_t value, ByteOrder order) {
    if (order == ByteOrder::kLittle) {
        korvo::writeLittleEndian32(bytes, value);
    } else {
        korvo::writeBigEndian32(bytes, value);
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
