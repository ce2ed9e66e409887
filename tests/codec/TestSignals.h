#pragma once
// Test signals for the codec: one channel made of segments of different kinds (silence, low and
// full-scale noise, sines from quiet to clipped, square waves, impulses, values at the 16-bit
// limits, random walks, levels resting on a limit, instrument-like partials), each lasting a
// random number of blocks, so that every block is predicted from the one before it.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>

namespace korvo {

inline std::int16_t clip(double v) {
    return static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

class SignalSource {
public:
    explicit SignalSource(std::uint64_t seed) : random_(seed) {}

    void next(std::int16_t* block) {
        if (remaining_-- <= 0) startSegment();
        for (int k = 0; k < 16; ++k) block[k] = sample();
    }

private:
    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    double real(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random_);
    }

    void startSegment() {
        kind_ = uniform(0, 10);
        remaining_ = uniform(1, 120);
        amplitude_ = std::array<double, 6>{30, 300, 3000, 12000, 32767, 45000}[uniform(0, 5)];
        frequency_ = real(0.0005, 0.49);
        halfPeriod_ = uniform(1, 40);
        offset_ = uniform(-32768, 32767);
        t_ = 0;
    }

    std::int16_t sample() {
        ++t_;
        switch (kind_) {
        case 0: return 0;
        case 1: return static_cast<std::int16_t>(uniform(-4, 4));
        case 2: return static_cast<std::int16_t>(uniform(-32768, 32767));
        case 3:  // sines from quiet to clipped
            return clip(amplitude_ * std::sin(6.283185307 * frequency_ * t_));
        case 4: {  // square waves, up to both 16-bit limits
            const bool high = (t_ / halfPeriod_) % 2 == 0;
            return clip(high ? amplitude_ : -amplitude_ - 1);
        }
        case 5: return uniform(0, 60) == 0 ? clip(uniform(0, 1) ? amplitude_ : -amplitude_) : 0;
        case 6: {  // values at the 16-bit limits
            constexpr std::int16_t limits[] = {-32768, -32767, 32767, 32766, 0};
            return limits[uniform(0, 4)];
        }
        case 7:  // random walk
            walk_ = std::clamp(walk_ + uniform(-900, 900), -32768, 32767);
            return static_cast<std::int16_t>(walk_);
        case 8:  // resting on a limit with small noise
            return clip((offset_ < 0 ? -32768 : 32767) + (offset_ < 0 ? 1 : -1) * uniform(0, 12));
        case 9:  // a DC level with noise
            return clip(offset_ + uniform(-64, 64));
        default:  // two partials and noise, like an instrument
            return clip(0.6 * amplitude_ * std::sin(6.283185307 * frequency_ * t_) +
                        0.3 * amplitude_ * std::sin(6.283185307 * 3.01 * frequency_ * t_) +
                        uniform(-40, 40));
        }
    }

    std::mt19937_64 random_;
    int kind_ = 0;
    int remaining_ = 0;
    double amplitude_ = 0;
    double frequency_ = 0;
    int halfPeriod_ = 1;
    int offset_ = 0;
    int walk_ = 0;
    long t_ = 0;
};

}  // namespace korvo
