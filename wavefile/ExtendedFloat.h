#pragma once
// The 80-bit IEEE 754 double-extended value in which AIFF stores its sample rate: sign bit,
// 15-bit exponent (bias 16383) and 64-bit significand with an explicit integer bit, most
// significant byte first.
//
//   std::array<std::uint8_t, 10> bytes = toExtended(44100.0);   // 40 0E AC 44 00 ...
//   double rate = fromExtended(bytes.data());                    // 44100.0

#include <array>
#include <cstdint>

namespace KorvoLib {

inline constexpr int kExtendedBytes = 10;

// Exact for every finite double (so for every integer sample rate). Infinities and NaNs get
// the all-ones exponent.
std::array<std::uint8_t, kExtendedBytes> toExtended(double value);

// The nearest double; values beyond the range of a double give an infinity, the all-ones
// exponent an infinity or a NaN.
double fromExtended(const std::uint8_t* bytes);

}  // namespace KorvoLib
