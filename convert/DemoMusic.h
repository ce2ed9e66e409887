#pragma once
// Synthesised music for the demo disk: eight bars of drums, bass and chords at 120 beats per
// minute, made from plain oscillators and noise so that it needs no sample files.

#include <cstdint>
#include <vector>

namespace korvo {

struct DemoMusic {
    std::uint32_t sampleRate = 44100;
    std::vector<std::int16_t> drums;   // mono
    std::vector<std::int16_t> bass;    // mono
    std::vector<std::int16_t> chords;  // stereo, interleaved left/right
};

DemoMusic synthesiseDemoMusic(std::uint32_t sampleRate);

}  // namespace korvo
