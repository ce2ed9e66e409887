// RIFF WAVE files: the import road over the input as a RIFF WAVE file.
#include "fuzz/Harnesses.h"
#include "fuzz/WaveInput.h"
#include "wavefile/WaveFile.h"

namespace korvo::fuzz {

int riffWaveHarness(const std::uint8_t* data, std::size_t size) {
    return readWaveInput(KorvoLib::Korvo::kWaveTypeRiff, data, size);
}

}  // namespace korvo::fuzz
