#include "convert/DemoMusic.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvo {

namespace {

constexpr double kTempo = 120.0;  // beats per minute
constexpr int kBars = 8;
constexpr int kBeatsPerBar = 4;

// A small deterministic noise source, so the demo disk is the same every time.
class Noise {
public:
    double next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state_ >> 11) / static_cast<double>(1ull << 53) * 2.0 - 1.0;
    }

private:
    std::uint64_t state_ = 0x2545F4914F6CDD1Dull;
};

std::int16_t toSample(double value) {
    return static_cast<std::int16_t>(std::clamp(value, -1.0, 1.0) * 32000.0);
}

// Root frequencies of the chords Am, F, C, G (two bars each).
constexpr double kRoots[4] = {110.00, 87.31, 130.81, 98.00};
constexpr double kThirds[4] = {1.18921, 1.25992, 1.25992, 1.25992};  // minor, major, major, major

}  // namespace

DemoMusic synthesiseDemoMusic(std::uint32_t sampleRate) {
    DemoMusic music;
    music.sampleRate = sampleRate;
    const double rate = sampleRate;
    const double beat = 60.0 / kTempo;
    const std::size_t frames = static_cast<std::size_t>(kBars * kBeatsPerBar * beat * rate);
    music.drums.resize(frames);
    music.bass.resize(frames);
    music.chords.resize(frames * 2);
    Noise noise;
    constexpr double kTwoPi = 2.0 * std::numbers::pi;

    double kickPhase = 0.0;
    double bassPhase = 0.0;
    double hatLow = 0.0;
    double padPhase[6] = {};
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = i / rate;
        const double beats = t / beat;
        const int bar = static_cast<int>(beats / kBeatsPerBar);
        const int chord = (bar / 2) % 4;
        const double inBeat = std::fmod(beats, 1.0) * beat;  // seconds since the beat
        const double inEighth = std::fmod(beats * 2.0, 1.0) * beat / 2.0;
        const int beatInBar = static_cast<int>(beats) % kBeatsPerBar;

        // Drums: kick on 1 and 3, snare on 2 and 4, hi-hat on every eighth.
        double drum = 0.0;
        if (beatInBar == 0 || beatInBar == 2) {
            const double frequency = 50.0 + 90.0 * std::exp(-inBeat * 30.0);
            kickPhase += kTwoPi * frequency / rate;
            drum += 0.9 * std::sin(kickPhase) * std::exp(-inBeat * 8.0);
        } else {
            kickPhase = 0.0;
            drum += 0.5 * noise.next() * std::exp(-inBeat * 18.0);
        }
        const double white = noise.next();
        hatLow += 0.5 * (white - hatLow);
        drum += 0.25 * (white - hatLow) * std::exp(-inEighth * 60.0);
        music.drums[i] = toSample(drum * 0.8);

        // Bass: eighth notes on the chord's root, an octave jump on the off-beats.
        const double octave = std::fmod(beats * 2.0, 2.0) >= 1.0 ? 2.0 : 1.0;
        bassPhase += kRoots[chord] * octave / rate;
        bassPhase -= std::floor(bassPhase);
        const double saw = 2.0 * bassPhase - 1.0;
        const double sine = std::sin(kTwoPi * bassPhase);
        music.bass[i] = toSample((0.35 * saw + 0.5 * sine) * std::exp(-inEighth * 6.0));

        // Chords: a sustained triad two octaves up, slightly detuned between left and right.
        const double notes[3] = {kRoots[chord] * 4.0, kRoots[chord] * 4.0 * kThirds[chord],
                                 kRoots[chord] * 4.0 * 1.49831};
        const double swell = 0.6 + 0.4 * std::sin(kTwoPi * t * 0.25);
        double left = 0.0;
        double right = 0.0;
        for (int n = 0; n < 3; ++n) {
            padPhase[n] += kTwoPi * notes[n] / rate;
            padPhase[n + 3] += kTwoPi * notes[n] * 1.003 / rate;
            left += std::sin(padPhase[n]) + 0.3 * std::sin(2.0 * padPhase[n]);
            right += std::sin(padPhase[n + 3]) + 0.3 * std::sin(2.0 * padPhase[n + 3]);
        }
        music.chords[2 * i] = toSample(left * 0.16 * swell);
        music.chords[2 * i + 1] = toSample(right * 0.16 * swell);
    }
    return music;
}

}  // namespace korvo
