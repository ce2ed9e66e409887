#include "wavefile/ExtendedFloat.h"

#include <cmath>
#include <limits>

namespace KorvoLib {
namespace {

constexpr int kBias = 16383;
constexpr int kMaxExponent = 0x7FFF;

}  // namespace

std::array<std::uint8_t, kExtendedBytes> toExtended(double value) {
    std::array<std::uint8_t, kExtendedBytes> bytes{};
    const bool negative = std::signbit(value);
    std::uint32_t exponent = 0;
    std::uint64_t significand = 0;
    if (std::isnan(value)) {
        exponent = kMaxExponent;
        significand = 0xC000000000000000ULL;
    } else if (std::isinf(value)) {
        exponent = kMaxExponent;
        significand = 0x8000000000000000ULL;
    } else if (value != 0.0) {
        // value = fraction * 2^power with fraction in [0.5, 1): the integer bit of the
        // significand holds the fraction's first bit, so the exponent is power - 1.
        int power = 0;
        const double fraction = std::frexp(std::fabs(value), &power);
        significand = static_cast<std::uint64_t>(std::ldexp(fraction, 64));
        exponent = static_cast<std::uint32_t>(power - 1 + kBias);
    }
    const std::uint32_t signAndExponent = (negative ? 0x8000u : 0u) | exponent;
    bytes[0] = static_cast<std::uint8_t>(signAndExponent >> 8);
    bytes[1] = static_cast<std::uint8_t>(signAndExponent);
    for (int i = 0; i < 8; ++i) {
        bytes[2 + i] = static_cast<std::uint8_t>(significand >> (56 - 8 * i));
    }
    return bytes;
}

double fromExtended(const std::uint8_t* bytes) {
    const bool negative = (bytes[0] & 0x80) != 0;
    const int exponent = ((bytes[0] & 0x7F) << 8) | bytes[1];
    std::uint64_t significand = 0;
    for (int i = 0; i < 8; ++i) {
        significand = (significand << 8) | bytes[2 + i];
    }
    double magnitude;
    if (exponent == kMaxExponent) {
        // Only the fraction bits tell an infinity from a NaN; the integer bit does not count.
        magnitude = (significand << 1) == 0 ? std::numeric_limits<double>::infinity()
                                            : std::numeric_limits<double>::quiet_NaN();
    } else {
        // Denormal extended values (exponent 0) share the exponent of the smallest normal one.
        const int power = (exponent == 0 ? 1 : exponent) - kBias - 63;
        magnitude = std::ldexp(static_cast<double>(significand), power);
    }
    return negative ? -magnitude : magnitude;
}

}  // namespace KorvoLib
