#pragma once
// The import road over a wave file made from fuzzed bytes, shared by the RIFF WAVE and AIFF
// harnesses: the bytes become a host file (wave files are opened by path), which is read as a
// file of the given type: header, data position, every frame.

#include <cstddef>
#include <cstdint>

namespace korvo::fuzz {

int readWaveInput(int fileType, const std::uint8_t* data, std::size_t size);

}  // namespace korvo::fuzz
