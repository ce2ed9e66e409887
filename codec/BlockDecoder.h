#pragma once
// Decoder of the recorder's compressed block format: one block of one channel (2n bytes) into
// 16 signed 16-bit samples. Every bit pattern decodes; the call never fails and allocates
// nothing. The carried sample is the previous block's last sample; pass 0 for the first block
// of a channel and after a block of silence.
//
//   BlockDecoder decoder;
//   carried = decoder.decode(bytes, samples, carried, 6);   // 12 bytes -> 16 samples
//   carried = decoder.decodeRun(take, samples, 2048, carried, 6);   // 2048 blocks at once

#include <cstddef>
#include <cstdint>

#include "codec/Kernel.h"

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

    // A run of consecutive blocks of one channel: bytes holds blocks * 2 * width bytes, out
    // receives blocks * 16 samples. Gives the same samples and carried sample as decoding the
    // blocks one by one; the state afterwards is that of the last block (unchanged for none).
    std::int32_t decodeRun(const std::uint8_t* bytes, std::int16_t* out, std::size_t blocks,
                           std::int32_t carried, int width);
    // The same with a chosen kernel (tests and benchmarks compare them); one that the processor
    // lacks falls back to the portable kernel.
    std::int32_t decodeRun(const std::uint8_t* bytes, std::int16_t* out, std::size_t blocks,
                           std::int32_t carried, int width, block::Kernel kernel);
};

}  // namespace korvo
