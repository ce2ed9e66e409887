#pragma once
// Builders for the wave-file tests: a scratch folder, chunk bytes in either byte order, and the
// export and import roads through IWaveFile (samples in, samples out).

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/BlockBuffer.h"
#include "wavefile/WaveFile.h"

namespace korvo::test {

using Bytes = std::vector<std::uint8_t>;

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() /
                ("korvowav-" + name + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline void saveBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes loadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Appends values in one byte order.
struct ByteWriter {
    bool big = false;
    Bytes bytes;

    ByteWriter& u16(std::uint32_t v) {
        put(v, 2);
        return *this;
    }
    ByteWriter& u32(std::uint32_t v) {
        put(v, 4);
        return *this;
    }
    ByteWriter& text(const std::string& s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    // Byte by byte: GCC 12 at -O3 misreads a range insert after push_back as an overflow.
    ByteWriter& raw(const Bytes& b) {
        for (const std::uint8_t byte : b) {
            bytes.push_back(byte);
        }
        return *this;
    }
    void put(std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            const int shift = big ? 8 * (n - 1 - i) : 8 * i;
            bytes.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }
};

// One chunk: identifier, size (the body's unless given), body, pad byte when odd.
inline Bytes chunk(bool big, const std::string& id, const Bytes& body,
                   std::optional<std::uint32_t> size = std::nullopt) {
    ByteWriter w{big, {}};
    w.text(id).u32(size ? *size : static_cast<std::uint32_t>(body.size())).raw(body);
    if (body.size() % 2) {
        w.bytes.push_back(0);
    }
    return w.bytes;
}

// A container: identifier, size of form type plus children, form type, children.
inline Bytes container(bool big, const std::string& id, const std::string& form,
                       const std::vector<Bytes>& children) {
    Bytes body(form.begin(), form.end());
    for (const Bytes& c : children) {
        body.insert(body.end(), c.begin(), c.end());
    }
    return chunk(big, id, body);
}

inline Bytes riffFormatBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                            std::uint16_t bits, bool withExtraSize = true) {
    ByteWriter w;
    w.u16(tag).u16(channels).u32(rate).u32(rate * channels * bits / 8).u16(channels * bits / 8).u16(bits);
    if (withExtraSize) {
        w.u16(0);
    }
    return w.bytes;
}

inline Bytes littleSamples(const std::vector<std::int16_t>& samples) {
    ByteWriter w;
    for (std::int16_t s : samples) {
        w.u16(static_cast<std::uint16_t>(s));
    }
    return w.bytes;
}

inline Bytes bigSamples(const std::vector<std::int16_t>& samples) {
    ByteWriter w{true, {}};
    for (std::int16_t s : samples) {
        w.u16(static_cast<std::uint16_t>(s));
    }
    return w.bytes;
}

// Samples that reach both ends of the 16-bit range and differ between channels and frames.
inline std::vector<std::int16_t> testSamples(std::size_t count, std::uint32_t seed = 1) {
    std::vector<std::int16_t> samples(count);
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        samples[i] = static_cast<std::int16_t>(state >> 16);
    }
    if (count > 0) {
        samples[0] = -32768;
    }
    if (count > 1) {
        samples[count - 1] = 32767;
    }
    return samples;
}

// The export road: create, samples block by block, close, header in update mode. The last
// block is padded with zeros when the samples do not fill it.
inline bool exportWave(int type, const std::string& path, int channels, std::uint32_t rate,
                       const std::vector<std::int16_t>& interleaved, std::uint32_t frames) {
    auto file = KorvoLib::Korvo::makeWaveFile(type);
    std::vector<std::unique_ptr<BlockBuffer>> owned;
    std::vector<BlockBuffer*> buffers;
    for (int c = 0; c < channels; ++c) {
        owned.push_back(std::make_unique<BlockBuffer>(5));
        buffers.push_back(owned.back().get());
    }
    if (!file->open(path, KorvoLib::Korvo::IWaveFile::kCreate) || !file->setDataPosition(0)) {
        return false;
    }
    const std::uint32_t blocks = (frames + 15) / 16;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        for (int c = 0; c < channels; ++c) {
            for (int i = 0; i < 16; ++i) {
                const std::size_t at = (std::size_t{b} * 16 + i) * channels + c;
                buffers[c]->samples[i] = at < interleaved.size() ? interleaved[at] : 0;
            }
        }
        if (!file->writeBlock(buffers.data(), channels)) {
            return false;
        }
    }
    KorvoLib::Korvo::WaveFormat format;
    format.channels = static_cast<std::uint16_t>(channels);
    format.sampleRate = rate;
    format.frames = frames;
    return file->close() && file->open(path, KorvoLib::Korvo::IWaveFile::kUpdate) &&
           file->writeHeader(format) && file->close();
}

struct ImportedWave {
    KorvoLib::Korvo::WaveFormat format;
    std::vector<std::int16_t> interleaved;
};

// The import road: header, data position 0, frames block by block.
inline std::optional<ImportedWave> importWave(const std::string& path) {
    const int type = KorvoLib::Korvo::recognizeWaveFileType(path);
    auto file = KorvoLib::Korvo::makeWaveFile(type);
    ImportedWave wave;
    if (!file || !file->open(path, KorvoLib::Korvo::IWaveFile::kRead) ||
        !file->readHeader(wave.format) || !file->setDataPosition(0)) {
        return std::nullopt;
    }
    const int channels = wave.format.channels;
    std::vector<std::unique_ptr<BlockBuffer>> owned;
    std::vector<BlockBuffer*> buffers;
    for (int c = 0; c < channels; ++c) {
        owned.push_back(std::make_unique<BlockBuffer>(5));
        buffers.push_back(owned.back().get());
    }
    for (std::uint32_t done = 0; done < wave.format.frames;) {
        const int count = static_cast<int>(std::min<std::uint32_t>(16, wave.format.frames - done));
        if (!file->readFrames(buffers.data(), channels, count)) {
            return std::nullopt;
        }
        for (int i = 0; i < count; ++i) {
            for (int c = 0; c < channels; ++c) {
                wave.interleaved.push_back(buffers[c]->samples[i]);
            }
        }
        done += static_cast<std::uint32_t>(count);
    }
    return wave;
}

}  // namespace korvo::test
