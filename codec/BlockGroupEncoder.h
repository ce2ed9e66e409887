#pragma once
// The encoder's widest path: eight consecutive blocks of one channel at once, one block in each
// 32-bit lane of the AVX2 registers, so that every step of the encoder works on eight blocks per
// instruction. BlockEncoder::encodeRun uses it for the bulk of a run with the AVX2 kernel and
// encodes the last blocks of the run one at a time; the bytes are those of encoding every block
// on its own.
//
//   carried = block::encodeBlockGroupsAvx2(in, out, groups, carried, width);

#include <cstddef>
#include <cstdint>

#include "codec/Kernel.h"

namespace korvo::block {

inline constexpr int kGroupBlocks = 8;

#if KORVO_CODEC_HAS_AVX2
// Encodes groups * 8 consecutive blocks: in holds groups * 128 samples, out receives
// groups * 16 * width bytes, and the 16 - 2 * width bytes after them must be writable (they are
// overwritten with zeros). Returns the carried sample after the last block. Width 4 to 8; the
// processor must have AVX2 (kernelAvailable(Kernel::Avx2)).
std::int32_t encodeBlockGroupsAvx2(const std::int16_t* in, std::uint8_t* out, std::size_t groups,
                                   std::int32_t carried, int width);
#endif

}  // namespace korvo::block
