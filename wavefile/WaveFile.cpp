#include "wavefile/WaveFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "codec/BlockBuffer.h"

#include "wavefile/AiffChunks.h"
#include "wavefile/ChunkStream.h"
#include "wavefile/FormAiffFile.h"
#include "wavefile/RiffWaveChunks.h"
#include "wavefile/RiffWaveFile.h"

namespace KorvoLib::Korvo {

bool IWaveFile::readRun(std::int16_t* const* channels, int channelCount, std::size_t frames) {
    if (channels == nullptr || channelCount <= 0) {
        return false;
    }
    std::vector<korvo::BlockBuffer> buffers(static_cast<std::size_t>(channelCount),
                                            korvo::BlockBuffer(0));
    std::vector<korvo::BlockBuffer*> pointers;
    for (int c = 0; c < channelCount; ++c) {
        pointers.push_back(channels[c] ? &buffers[static_cast<std::size_t>(c)] : nullptr);
    }
    constexpr std::size_t kFrames = korvo::BlockBuffer::kSamples;
    for (std::size_t first = 0; first < frames; first += kFrames) {
        const std::size_t count = std::min(kFrames, frames - first);
        if (!readFrames(pointers.data(), channelCount, static_cast<int>(count))) {
            return false;
        }
        for (int c = 0; c < channelCount; ++c) {
            if (channels[c]) {
                std::memcpy(channels[c] + first, buffers[static_cast<std::size_t>(c)].samples.data(),
                            count * sizeof(std::int16_t));
            }
        }
    }
    return true;
}

bool IWaveFile::writeRun(const std::int16_t* const* channels, int channelCount,
                         std::size_t frames) {
    constexpr std::size_t kFrames = korvo::BlockBuffer::kSamples;
    if (channels == nullptr || channelCount <= 0 || frames % kFrames != 0) {
        return false;
    }
    std::vector<korvo::BlockBuffer> buffers(static_cast<std::size_t>(channelCount),
                                            korvo::BlockBuffer(0));
    std::vector<korvo::BlockBuffer*> pointers;
    for (auto& buffer : buffers) {
        pointers.push_back(&buffer);
    }
    for (std::size_t first = 0; first < frames; first += kFrames) {
        for (int c = 0; c < channelCount; ++c) {
            auto& samples = buffers[static_cast<std::size_t>(c)].samples;
            if (channels[c]) {
                std::memcpy(samples.data(), channels[c] + first, kFrames * sizeof(std::int16_t));
            } else {
                samples.fill(0);
            }
        }
        if (!writeBlock(pointers.data(), channelCount)) {
            return false;
        }
    }
    return true;
}

std::unique_ptr<IWaveFile> makeWaveFile(int fileType) {
    switch (fileType) {
        case kWaveTypeRiff:
            return std::make_unique<CRiffWaveFile>();
        case kWaveTypeAiff:
            return std::make_unique<CFormAiffFile>();
        default:
            return nullptr;
    }
}

int recognizeWaveFileType(const std::string& path) {
    CChunkStream stream(ByteOrder::kLittle);
    char head[12];
    if (!stream.open(path, CChunkStream::Access::kRead) || !stream.readBytes(head, sizeof head)) {
        return -1;
    }
    const auto is = [&head](int at, std::string_view text) {
        return std::memcmp(head + at, text.data(), 4) == 0;
    };
    if (is(0, CRiffWaveFileChunks::CRiffWaveChunk::kIdentifier) &&
        is(8, CRiffWaveFileChunks::CRiffWaveChunk::kFormType)) {
        return kWaveTypeRiff;
    }
    if (is(0, CFormAiffFileChunks::CFormAiffChunk::kIdentifier) &&
        is(8, CFormAiffFileChunks::CFormAiffChunk::kFormType)) {
        return kWaveTypeAiff;
    }
    return -1;
}

bool writeInterleavedWave(const std::string& path, int fileType, std::uint16_t channels,
                          std::uint32_t sampleRate, const std::int16_t* interleaved,
                          std::size_t frames) {
    auto file = makeWaveFile(fileType);
    if (!file || !file->open(path, IWaveFile::kCreate) || !file->setDataPosition(0)) {
        return false;
    }
    constexpr int kFrames = korvo::BlockBuffer::kSamples;
    std::vector<korvo::BlockBuffer> buffers(channels, korvo::BlockBuffer(0));
    std::vector<korvo::BlockBuffer*> pointers;
    for (auto& buffer : buffers) {
        pointers.push_back(&buffer);
    }
    for (std::size_t start = 0; start < frames; start += kFrames) {
        for (std::uint16_t c = 0; c < channels; ++c) {
            for (int k = 0; k < kFrames; ++k) {
                const std::size_t frame = start + static_cast<std::size_t>(k);
                buffers[c].samples[k] = frame < frames ? interleaved[frame * channels + c] : 0;
            }
        }
        if (!file->writeBlock(pointers.data(), channels)) {
            return false;
        }
    }
    if (!file->close() || !file->open(path, IWaveFile::kUpdate)) {
        return false;
    }
    const WaveFormat format{channels, sampleRate, static_cast<std::uint32_t>(frames)};
    return file->writeHeader(format) && file->close();
}

}  // namespace KorvoLib::Korvo
