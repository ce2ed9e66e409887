#pragma once
// Decoder of the recorder's compressed block format: one block of one channel (2n bytes) into
// 16 signed 16-bit samples. Every bit pattern decodes; the call never fails and allocates
// nothing.

#include <cstdint>

namespace korvo {

struct BlockDecoder {
    std::int16_t parameter = 0;  // p of the last decoded block
    std::uint16_t mode = 0;      // 'A'..'G' of the last decoded block
    std::int32_t mask = 0;
    std::int32_t halfStep = 0;

    // bytes: 2 * width bytes (width 4 to 8); out: 16 samples. Returns the new carried sample.
    std::int32_t decode(const std::uint8_t* bytes, std::int16_t* out, std::int32_t carried,
                        int width);
};

}  // namespace korvo
