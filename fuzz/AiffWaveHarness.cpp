// AIFF files: the import road over the input as an AIFF file.
#include "fuzz/Harnesses.h"
#include "fuzz/WaveInput.h"
#include "wavefile/WaveFile.h"

namespace korvo::fuzz {

int aiffWaveHarness(const std::uint8_t* data, std::size_t size) {
    return readWaveInput(KorvoLib::Korvo::kWaveTypeAiff, data, size);
}

}  // namespace korvo::fuzz
