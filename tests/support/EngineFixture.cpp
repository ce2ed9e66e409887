#include "tests/support/EngineFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "wavefile/WaveFile.h"

namespace korvo::test {

std::vector<std::int16_t> musicSignal(std::uint32_t blocks, std::uint32_t seed) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(blocks) * 16);
    std::uint32_t noise = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        noise = noise * 1664525u + 1013904223u;
        const double value = 9000.0 * std::sin(2 * std::numbers::pi * 220.0 * t + seed) +
                             5000.0 * std::sin(2 * std::numbers::pi * 331.0 * t) +
                             3000.0 * std::sin(2 * std::numbers::pi * 1470.0 * t) +
                             static_cast<double>(static_cast<std::int32_t>(noise >> 20) - 2048);
        samples[i] = static_cast<std::int16_t>(value);
    }
    return samples;
}

std::vector<Bytes> encodeBlocks(const std::vector<std::int16_t>& samples, int width) {
    BlockBuffer buffer(width);
    std::vector<Bytes> blocks;
    for (std::size_t start = 0; start + 16 <= samples.size(); start += 16) {
        std::copy(samples.begin() + static_cast<std::ptrdiff_t>(start),
                  samples.begin() + static_cast<std::ptrdiff_t>(start + 16),
                  buffer.samples.begin());
        buffer.encode();
        blocks.emplace_back(buffer.bytes.begin(), buffer.bytes.begin() + 2 * width);
    }
    return blocks;
}

std::vector<std::int16_t> decodeBlocks(const std::vector<Bytes>& blocks, int width) {
    BlockBuffer buffer(width);
    std::vector<std::int16_t> samples;
    for (const auto& block : blocks) {
        std::copy(block.begin(), block.end(), buffer.bytes.begin());
        buffer.decode();
        samples.insert(samples.end(), buffer.samples.begin(), buffer.samples.end());
    }
    return samples;
}

std::int16_t inverted(std::int16_t sample) {
    return sample == -32768 ? std::int16_t{32767} : static_cast<std::int16_t>(-sample);
}

WaveContents readWave(const std::string& path) {
    WaveContents contents;
    const int type = KorvoLib::Korvo::recognizeWaveFileType(path);
    auto file = KorvoLib::Korvo::makeWaveFile(type);
    KorvoLib::Korvo::WaveFormat format;
    if (!file || !file->open(path, KorvoLib::Korvo::IWaveFile::kRead) ||
        !file->readHeader(format) || !file->setDataPosition(0)) {
        return contents;
    }
    contents.channels = format.channels;
    contents.sampleRate = format.sampleRate;
    std::vector<BlockBuffer> buffers(format.channels, BlockBuffer(4));
    std::vector<BlockBuffer*> pointers;
    for (auto& buffer : buffers) {
        pointers.push_back(&buffer);
    }
    for (std::uint32_t done = 0; done < format.frames;) {
        const int count = static_cast<int>(std::min<std::uint32_t>(16, format.frames - done));
        if (!file->readFrames(pointers.data(), format.channels, count)) {
            return contents;
        }
        for (int k = 0; k < count; ++k) {
            for (auto& buffer : buffers) {
                contents.samples.push_back(buffer.samples[k]);
            }
        }
        done += static_cast<std::uint32_t>(count);
    }
    contents.ok = file->close();
    return contents;
}

bool writeWave(const std::string& path, std::uint16_t channels, std::uint32_t sampleRate,
               const std::vector<std::int16_t>& interleaved, int fileType) {
    const std::size_t frames = channels == 0 ? 0 : interleaved.size() / channels;
    return KorvoLib::Korvo::writeInterleavedWave(path, fileType, channels, sampleRate,
                                                 interleaved.data(), frames);
}

std::unique_ptr<CTrackConverter> converterOn(const std::string& root, SongNumber song,
                                             IDiskFiles* replacement) {
    auto converter = std::make_unique<CTrackConverter>();
    converter->setPolarity(true);
    if (replacement) {
        converter->setDiskOpener([replacement](const std::string&, const DiskOptions&) {
            return std::make_unique<DiskReference>(*replacement);
        });
    }
    converter->setRootPath(root);
    EXPECT_TRUE(converter->refreshSongList()) << converter->status();
    EXPECT_TRUE(converter->refreshSong(song)) << converter->status();
    return converter;
}

}  // namespace korvo::test
