#pragma once
// Encoder of the recorder's compressed block format: 16 signed 16-bit samples of one channel
// into one block of 2n bytes (n = 4, 5, 6 or 8). Closed-loop: decoding the output with the same
// carried sample gives exactly the encoder's own reconstruction.

#include <cstdint>

namespace korvo {

struct BlockEncoder {
    std::int16_t parameter = 0;  // p chosen for the last block
    std::uint16_t mode = 0;      // 'A'..'F' chosen for the last block
    std::int32_t mask = 0;
    std::int32_t halfStep = 0;
    // Level magnitudes M7, M3, M15, R3, R15, R0 of the last block.
    std::int32_t levels[6] = {};

    // in: 16 samples; out: 2 * width bytes. Returns the reconstruction of sample 15, the new
    // carried sample.
    std::int32_t encode(const std::int16_t* in, std::uint8_t* out, std::int32_t carried,
                        int width);
};

}  // namespace korvo
