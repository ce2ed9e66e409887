#pragma once
// One channel's block of recorder audio: 16 samples, their compressed form of 2w bytes, the
// carried sample that links a block to the one before it, and one encoder and one decoder
// state. Export fills `bytes` from a take and calls decode(); import fills `samples` from a
// wave file and calls encode(). reset() gives a block of silence that the next block is
// predicted from as if the channel had just started.
//
//   BlockBuffer buffer(5);                 // LV1: 10 bytes a block
//   take.readBlock(buffer.bytes.data());
//   buffer.decode();                       // buffer.samples now holds 16 samples
//   buffer.decodeRun(cluster, samples, 2048);   // or 2048 blocks in one call

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/BlockDecoder.h"
#include "codec/BlockEncoder.h"

namespace korvo {

class BlockBuffer {
public:
    static constexpr int kSamples = 16;
    static constexpr int kMaxBytes = 16;

    // width: 4 to 8 bits per sample (the encoder takes 4, 5, 6 and 8). Any other width (0 for
    // an unknown data type) gives a buffer without a codec: width() and byteCount() are 0,
    // decode() gives silence and encode() writes nothing.
    explicit BlockBuffer(int width);

    int width() const { return width_; }
    std::uint8_t byteCount() const { return byteCount_; }
    static constexpr int sampleCount() { return kSamples; }

    // Clears bytes and samples and sets the carried sample to 0.
    void reset();
    // Clears the samples only; the carried sample goes on (the last, partial block of an import).
    void clearSamples() { samples.fill(0); }

    // bytes -> samples, carried sample replaced by the decoder's result.
    void decode() { carried = decoder.decode(bytes.data(), samples.data(), carried, width_); }
    // samples -> bytes, carried sample replaced by the encoder's reconstruction of sample 15.
    void encode() { carried = encoder.encode(samples.data(), bytes.data(), carried, width_); }

    // Runs of consecutive blocks of this channel, a cluster's worth at a time: in holds
    // blocks * byteCount() bytes (decode) or blocks * 16 samples (encode), out receives the
    // other. The carried sample goes on from the buffer's and is left as after the run's last
    // block, exactly as block-by-block calls leave it; the buffer's own arrays are not used.
    void decodeRun(const std::uint8_t* in, std::int16_t* out, std::size_t blocks) {
        carried = decoder.decodeRun(in, out, blocks, carried, width_);
    }
    void encodeRun(const std::int16_t* in, std::uint8_t* out, std::size_t blocks) {
        carried = encoder.encodeRun(in, out, blocks, carried, width_);
    }

    std::array<std::uint8_t, kMaxBytes> bytes{};
    std::array<std::int16_t, kSamples> samples{};
    std::int32_t carried = 0;
    BlockEncoder encoder;
    BlockDecoder decoder;

private:
    int width_;
    std::uint8_t byteCount_;
};

}  // namespace korvo
