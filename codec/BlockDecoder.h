#pragma once
// Decoder of the recorder's compressed block format: one block of one channel (2n bytes) into
// 16 signed 16-bit samples. Every bit pattern decodes; the call never fails and allocates
// nothing. The carried sample is the previous block's last sample; pass 0 for the first block
// of a channel and after a block of silence.
//
//   BlockDecoder decoder;
//   carried = decoder.decode(bytes, samples, carried, 6);   // 12 bytes -> 16 samples

#include <cstdint>

namespace korvo {

struct BlockDecoder {
    std::int16_t parameter = 0;  // p of the last decoded block
    std::uint16_t mode = 0;      // 'A'..'G' of the last decoded block
    std::int32_t mask = 0;       // -1 << (p + 4) >> n
    std::int32_t halfStep = 0;   // 1 << (p + 4) >> (n + 1)

    // bytes: 2 * width bytes (width 4 to 8); out: 16 samples. Returns the new carried sample.
    // A width outside 4 to 8 has no codec: the samples are silence and the result is 0.
    std::int32_t decode(const std::uint8_t* bytes, std::int16_t* out, std::int32_t carried,
                        int width);
};

}  // namespace korvo
