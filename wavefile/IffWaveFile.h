#pragma once
// IWaveFile for any chunk-structured wave file with one container chunk, one format chunk and
// one sample-data chunk: the RIFF WAVE and AIFF file objects are instances of this template
// and add what tells them apart (how the format chunk describes the samples, where the first
// sample lies in the sample-data chunk, the header size).
//
// Samples pass through a fixed scratch buffer of the file object: a block is read or written
// with one stream call, then de-interleaved into or interleaved from the channels' block
// buffers. Nothing is allocated per block.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "codec/BlockBuffer.h"
#include "wavefile/Chunk.h"
#include "wavefile/ChunkStream.h"
#include "wavefile/WaveFile.h"

namespace KorvoLib::Korvo {

template <class TContainer, class TFormat, class TData>
class CIffWaveFile : public IWaveFile {
public:
    std::uint64_t neededSize(std::uint16_t channels, std::uint32_t startBlock,
                             std::uint32_t endBlock) const override {
        const std::uint64_t blocks = endBlock > startBlock ? endBlock - startBlock : 0;
        return headerSize() + std::uint64_t{channels} * blocks * kBlockBytes;
    }

    bool open(const std::string& path, int mode) override {
        close();
        CChunkStream::Access access;
        switch (mode) {
            case kRead:
                access = CChunkStream::Access::kRead;
                break;
            case kCreate:
                access = CChunkStream::Access::kCreate;
                break;
            case kUpdate:
                access = CChunkStream::Access::kUpdate;
                break;
            default:
                return false;
        }
        if (!stream_.open(path, access)) {
            return false;
        }
        if (mode == kRead) {
            TContainer container;
            if (!container.readHead(stream_) || !stream_.seek(0)) {
                stream_.close();
                return false;
            }
        }
        mode_ = mode;
        sampleEnd_ = kNoLimit;
        return true;
    }

    bool rewind() override { return mode_ != 0 && stream_.seek(0); }

    bool setDataPosition(std::uint64_t byteOffset) override {
        if (mode_ == 0 || byteOffset > static_cast<std::uint64_t>(kNoLimit)) {
            return false;
        }
        const auto offset = static_cast<std::int64_t>(byteOffset);
        if (mode_ != kRead) {
            return stream_.seek(headerSize() + offset);
        }
        // The samples of a file being read lie wherever its sample-data chunk is; reads are
        // then kept inside that chunk.
        CChunk::CHeader data;
        if (!findSampleData(data)) {
            return false;
        }
        const std::int64_t first = data.dataPosition + sampleDataOffset();
        if (first > data.bodyEnd() || offset > data.bodyEnd() - first) {
            return false;
        }
        sampleEnd_ = data.bodyEnd();
        return stream_.seek(first + offset);
    }

    bool readFrames(korvo::BlockBuffer* const* buffers, int channels, int count) override {
        if (mode_ == 0 || buffers == nullptr || channels <= 0 || count < 0 ||
            count > korvo::BlockBuffer::kSamples) {
            return false;
        }
        const std::size_t total = static_cast<std::size_t>(count) * channels;
        const std::int64_t position = stream_.tell();
        if (position < 0 || static_cast<std::int64_t>(2 * total) > sampleEnd_ - position) {
            return false;
        }
        if (total <= scratch_.size()) {
            if (!stream_.readSamples(scratch_.data(), total)) {
                return false;
            }
            switch (channels) {
                case 1:
                    spread<1>(buffers, 1, count);
                    break;
                case 2:
                    spread<2>(buffers, 2, count);
                    break;
                default:
                    spread<0>(buffers, channels, count);
                    break;
            }
            return true;
        }
        // More channels than a block of the scratch buffer holds: frame by frame, in runs.
        for (int i = 0; i < count; ++i) {
            for (int first = 0; first < channels; first += kScratchSamples) {
                const int run = std::min(kScratchSamples, channels - first);
                if (!stream_.readSamples(scratch_.data(), static_cast<std::size_t>(run))) {
                    return false;
                }
                for (int k = 0; k < run; ++k) {
                    if (korvo::BlockBuffer* buffer = buffers[first + k]) {
                        buffer->samples[i] = scratch_[k];
                    }
                }
            }
        }
        return true;
    }

    bool readHeader(WaveFormat& format) override {
        if (mode_ == 0 || !stream_.seek(0)) {
            return false;
        }
        TContainer container;
        if (!container.readHead(stream_)) {
            return false;
        }
        TFormat formatChunk;
        TData dataChunk;
        bool haveFormat = false;
        bool haveData = false;
        CContainerChunk::CChildIterator children(stream_, container);
        // Only the first chunk of each kind counts; the walk ends once both are in, so that
        // whatever follows the samples does not matter.
        while (!(haveFormat && haveData) && children.next()) {
            const std::string& identifier = children.header().identifier;
            if (!haveFormat && identifier == TFormat::kIdentifier) {
                if (!stream_.seek(children.headerPosition()) || !formatChunk.read(stream_)) {
                    return false;
                }
                haveFormat = true;
            } else if (!haveData && identifier == TData::kIdentifier) {
                if (!stream_.seek(children.headerPosition()) || !dataChunk.read(stream_)) {
                    return false;
                }
                haveData = true;
            }
        }
        WaveFormat read;
        if (!haveFormat || !haveData || !describe(formatChunk, dataChunk, read)) {
            return false;
        }
        format = read;
        return true;
    }

    bool writeBlock(korvo::BlockBuffer* const* buffers, int channels) override {
        constexpr int kFrames = korvo::BlockBuffer::kSamples;
        if (mode_ == 0 || buffers == nullptr || channels <= 0) {
            return false;
        }
        const std::size_t total = static_cast<std::size_t>(kFrames) * channels;
        if (total <= scratch_.size()) {
            switch (channels) {
                case 1:
                    gather<1>(buffers, 1);
                    break;
                case 2:
                    gather<2>(buffers, 2);
                    break;
                default:
                    gather<0>(buffers, channels);
                    break;
            }
            return stream_.writeSamples(scratch_.data(), total);
        }
        for (int i = 0; i < kFrames; ++i) {
            for (int first = 0; first < channels; first += kScratchSamples) {
                const int run = std::min(kScratchSamples, channels - first);
                for (int k = 0; k < run; ++k) {
                    const korvo::BlockBuffer* buffer = buffers[first + k];
                    scratch_[k] = buffer ? buffer->samples[i] : 0;
                }
                if (!stream_.writeSamples(scratch_.data(), static_cast<std::size_t>(run))) {
                    return false;
                }
            }
        }
        return true;
    }

    bool readRun(std::int16_t* const* channels, int channelCount, std::size_t frames) override {
        if (mode_ == 0 || channels == nullptr || channelCount <= 0) {
            return false;
        }
        const std::int64_t position = stream_.tell();
        const std::uint64_t bytes = 2 * std::uint64_t{frames} * static_cast<unsigned>(channelCount);
        if (position < 0 || bytes > static_cast<std::uint64_t>(sampleEnd_ - position)) {
            return false;
        }
        return forEachSlice(channelCount, frames, [&](std::size_t first, std::size_t count,
                                                      int channel, int width) {
            if (!stream_.readSamples(scratch_.data(), count * static_cast<std::size_t>(width))) {
                return false;
            }
            for (int k = 0; k < width; ++k) {
                if (std::int16_t* out = channels[channel + k]) {
                    const std::int16_t* in = scratch_.data() + k;
                    for (std::size_t i = 0; i < count; ++i) {
                        out[first + i] = in[i * static_cast<std::size_t>(width)];
                    }
                }
            }
            return true;
        });
    }

    bool writeRun(const std::int16_t* const* channels, int channelCount,
                  std::size_t frames) override {
        if (mode_ == 0 || channels == nullptr || channelCount <= 0) {
            return false;
        }
        return forEachSlice(channelCount, frames, [&](std::size_t first, std::size_t count,
                                                      int channel, int width) {
            for (int k = 0; k < width; ++k) {
                std::int16_t* out = scratch_.data() + k;
                const std::int16_t* in = channels[channel + k];
                for (std::size_t i = 0; i < count; ++i) {
                    out[i * static_cast<std::size_t>(width)] = in ? in[first + i] : 0;
                }
            }
            return stream_.writeSamples(scratch_.data(), count * static_cast<std::size_t>(width));
        });
    }

    bool writeHeader(const WaveFormat& format) override {
        if (mode_ == 0) {
            return false;
        }
        // Chunk sizes are signed 32-bit: a description whose samples do not fit is refused
        // before anything is written, rather than written with a wrapped size.
        const std::uint64_t dataBytes = 2 * std::uint64_t{format.channels} * format.frames;
        if (headerSize() - CChunk::kHeaderBytes + dataBytes >
            std::uint64_t{std::numeric_limits<std::int32_t>::max()}) {
            return false;
        }
        auto formatChunk = std::make_unique<TFormat>();
        auto dataChunk = std::make_unique<TData>();
        if (!prepare(format, *formatChunk, *dataChunk)) {
            return false;
        }
        TContainer container;
        container.append(std::move(formatChunk));
        container.append(std::move(dataChunk));
        return stream_.seek(0) && container.write(stream_);
    }

    bool close() override {
        mode_ = 0;
        sampleEnd_ = kNoLimit;
        return stream_.close();
    }

    // The stream's error state, for callers that want to tell a failed read from a rejected
    // header.
    const CChunkStream& stream() const { return stream_; }

protected:
    explicit CIffWaveFile(ByteOrder order) : stream_(order) {}

    // The description that a format chunk and a sample-data chunk give, or false when they do
    // not describe 16-bit linear PCM.
    virtual bool describe(const TFormat& formatChunk, const TData& dataChunk,
                          WaveFormat& format) const = 0;
    // Fills the chunks that describe `format`; false when this kind of file cannot hold it.
    virtual bool prepare(const WaveFormat& format, TFormat& formatChunk,
                         TData& dataChunk) const = 0;
    // Bytes from the start of the sample-data chunk's body to its first sample.
    virtual std::int64_t sampleDataOffset() const = 0;

private:
    static constexpr std::uint64_t kBlockBytes = 2 * korvo::BlockBuffer::kSamples;
    static constexpr int kScratchSamples = 16 * 256;
    static constexpr std::int64_t kNoLimit = std::numeric_limits<std::int64_t>::max();

    // De-interleaves `count` frames from the scratch buffer into the channels' buffers. A fixed
    // channel count (kFixed > 0) gives the compiler constant strides to vectorise.
    template <int kFixed>
    void spread(korvo::BlockBuffer* const* buffers, int channels, int count) {
        const int stride = kFixed > 0 ? kFixed : channels;
        for (int c = 0; c < stride; ++c) {
            if (korvo::BlockBuffer* buffer = buffers[c]) {
                const std::int16_t* source = scratch_.data() + c;
                for (int i = 0; i < count; ++i) {
                    buffer->samples[i] = source[i * stride];
                }
            }
        }
    }

    // Interleaves one block of every channel into the scratch buffer; a missing buffer gives
    // silence.
    template <int kFixed>
    void gather(korvo::BlockBuffer* const* buffers, int channels) {
        constexpr int kFrames = korvo::BlockBuffer::kSamples;
        const int stride = kFixed > 0 ? kFixed : channels;
        for (int c = 0; c < stride; ++c) {
            std::int16_t* dest = scratch_.data() + c;
            if (const korvo::BlockBuffer* buffer = buffers[c]) {
                for (int i = 0; i < kFrames; ++i) {
                    dest[i * stride] = buffer->samples[i];
                }
            } else {
                for (int i = 0; i < kFrames; ++i) {
                    dest[i * stride] = 0;
                }
            }
        }
    }

    // Walks a run of interleaved frames in slices that fit the scratch buffer, in file order:
    // slice(first frame, frame count, first channel, channel count). All channels at once
    // when a frame fits; otherwise frame by frame, a scratch buffer of channels at a time.
    template <class TSlice>
    bool forEachSlice(int channels, std::size_t frames, TSlice slice) {
        if (channels <= kScratchSamples) {
            const std::size_t perSlice = static_cast<std::size_t>(kScratchSamples / channels);
            for (std::size_t first = 0; first < frames; first += perSlice) {
                if (!slice(first, std::min(perSlice, frames - first), 0, channels)) {
                    return false;
                }
            }
            return true;
        }
        for (std::size_t i = 0; i < frames; ++i) {
            for (int first = 0; first < channels; first += kScratchSamples) {
                if (!slice(i, 1, first, std::min(kScratchSamples, channels - first))) {
                    return false;
                }
            }
        }
        return true;
    }

    // Header of the first sample-data chunk of the file.
    bool findSampleData(CChunk::CHeader& data) {
        TContainer container;
        if (!stream_.seek(0) || !container.readHead(stream_)) {
            return false;
        }
        CContainerChunk::CChildIterator children(stream_, container);
        while (children.next()) {
            if (children.header().identifier == TData::kIdentifier) {
                data = children.header();
                return true;
            }
        }
        return false;
    }

    CChunkStream stream_;
    int mode_ = 0;
    std::int64_t sampleEnd_ = kNoLimit;  // end of the samples while reading
    std::array<std::int16_t, kScratchSamples> scratch_{};
};

}  // namespace KorvoLib::Korvo
