#pragma once
// Reduction of full-scale float samples to 16 bits with triangular (TPDF) dither of one least
// significant bit either way: the sum of two independent uniform values, so that the rounding
// error is independent of the signal. Deterministic: the same input gives the same output.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace korvo::transcode {

class CTpdfDither {
public:
    void reset() { state_ = kSeed; }
    // sample: full scale is 1.0 (libsndfile's normalised floats).
    std::int16_t toInt16(float sample) {
        const double dither = uniform() + uniform() - 1.0;
        const double value = std::floor(static_cast<double>(sample) * 32768.0 + dither + 0.5);
        return static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
    }

    // Without dither: for samples that are whole 16-bit values already (8-bit or companded
    // sources at the song's rate), which dither would only add noise to.
    static std::int16_t rounded(float sample) {
        const double value = std::floor(static_cast<double>(sample) * 32768.0 + 0.5);
        return static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
    }

private:
    static constexpr std::uint64_t kSeed = 0x9E3779B97F4A7C15ull;
    // Uniform in [0, 1) from a xorshift generator.
    double uniform() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<double>(state_ >> 11) * (1.0 / 9007199254740992.0);
    }
    std::uint64_t state_ = kSeed;
};

}  // namespace korvo::transcode
