#pragma once
// Encoder of the recorder's compressed block format: 16 signed 16-bit samples of one channel
// into one block of 2n bytes (n = 4, 5, 6 or 8; 7 works as well though no data type uses it).
// Closed-loop: every prediction uses the values the decoder will reconstruct, so decoding the
// output with the same carried sample gives exactly `reconstructed`, and the result of encode()
// is the carried sample the decoder will return. Never fails, allocates nothing.
//
//   BlockEncoder encoder;
//   std::int32_t carried = 0;                  // a channel starts from silence
//   carried = encoder.encode(samples, bytes, carried, 5);
//   carried = encoder.encodeRun(samples, take, 2048, carried, 5);   // 2048 blocks at once

#include <cstddef>
#include <cstdint>

#include "codec/Kernel.h"

namespace korvo {

struct BlockEncoder {
    std::int16_t parameter = 0;  // p chosen for the last block
    std::uint16_t mode = 0;      // 'A'..'F' chosen for the last block
    std::int32_t mask = 0;
    std::int32_t halfStep = 0;
    // Level magnitudes M7, M3, M15, R3, R15, R0 of the last block.
    std::int32_t levels[6] = {};
    // The last block's samples as the decoder reconstructs them, before they are cut to 16 bits
    // (for carried samples within the 16-bit range they always lie inside it).
    std::int32_t reconstructed[16] = {};

    // in: 16 samples; out: 2 * width bytes. Returns the reconstruction of sample 15, the new
    // carried sample. A width outside 4 to 8 has no codec: nothing is written and 0 returned.
    std::int32_t encode(const std::int16_t* in, std::uint8_t* out, std::int32_t carried, int width);

    // A run of consecutive blocks of one channel: in holds blocks * 16 samples, out receives
    // blocks * 2 * width bytes. Gives the same bytes and carried sample as encoding the blocks
    // one by one; the state afterwards is that of the last block (unchanged for none).
    std::int32_t encodeRun(const std::int16_t* in, std::uint8_t* out, std::size_t blocks,
                           std::int32_t carried, int width);
    // The same with a chosen kernel (tests and benchmarks compare them); one that the processor
    // lacks falls back to the portable kernel.
    std::int32_t encodeRun(const std::int16_t* in, std::uint8_t* out, std::size_t blocks,
                           std::int32_t carried, int width, block::Kernel kernel);
};

}  // namespace korvo
