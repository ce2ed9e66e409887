// Throughput of writing and reading 16-bit stereo frames through IWaveFile, from and to the page
// cache, next to a plain buffered copy of the same bytes with the C library's FILE streams.
//
//   build/bin/bench_wavefile --benchmark_min_time=0.5
//
// Each iteration writes (or reads) a whole 32 MiB wave file block by block, as the export and
// import runs do.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/BlockBuffer.h"
#include "wavefile/WaveFile.h"

namespace {

using KorvoLib::Korvo::IWaveFile;
using KorvoLib::Korvo::makeWaveFile;

constexpr int kChannels = 2;
constexpr std::uint32_t kBlocks = 512 * 1024;  // 32 MiB of stereo samples
constexpr std::size_t kBlockBytes = kChannels * 16 * 2;
constexpr std::size_t kTotalBytes = kBlocks * kBlockBytes;

std::string benchPath(const char* name) {
    return (std::filesystem::temp_directory_path() /
            ("korvowav-bench-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

struct StereoBlocks {
    korvo::BlockBuffer left{5};
    korvo::BlockBuffer right{5};
    korvo::BlockBuffer* buffers[kChannels] = {&left, &right};
    StereoBlocks() {
        for (int i = 0; i < 16; ++i) {
            left.samples[i] = static_cast<std::int16_t>(i * 1000 - 8000);
            right.samples[i] = static_cast<std::int16_t>(7000 - i * 900);
        }
    }
};

bool writeWave(int type, const std::string& path, StereoBlocks& blocks) {
    auto file = makeWaveFile(type);
    if (!file->open(path, IWaveFile::kCreate) || !file->setDataPosition(0)) {
        return false;
    }
    for (std::uint32_t b = 0; b < kBlocks; ++b) {
        if (!file->writeBlock(blocks.buffers, kChannels)) {
            return false;
        }
    }
    return file->close() && file->open(path, IWaveFile::kUpdate) &&
           file->writeHeader({kChannels, 44100, kBlocks * 16}) && file->close();
}

void BM_WriteStereoThroughWaveFile(benchmark::State& state) {
    const int type = static_cast<int>(state.range(0));
    const std::string path = benchPath("write");
    StereoBlocks blocks;
    for (auto _ : state) {
        if (!writeWave(type, path, blocks)) {
            state.SkipWithError("writing the wave file failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotalBytes));
    std::filesystem::remove(path);
}
BENCHMARK(BM_WriteStereoThroughWaveFile)->ArgName("aiff")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReadStereoThroughWaveFile(benchmark::State& state) {
    const int type = static_cast<int>(state.range(0));
    const std::string path = benchPath("read");
    StereoBlocks blocks;
    if (!writeWave(type, path, blocks)) {
        state.SkipWithError("writing the wave file failed");
        return;
    }
    for (auto _ : state) {
        auto file = makeWaveFile(type);
        KorvoLib::Korvo::WaveFormat format;
        if (!file->open(path, IWaveFile::kRead) || !file->readHeader(format) ||
            !file->setDataPosition(0)) {
            state.SkipWithError("opening the wave file failed");
            break;
        }
        for (std::uint32_t b = 0; b < kBlocks; ++b) {
            if (!file->readFrames(blocks.buffers, kChannels, 16)) {
                state.SkipWithError("reading the wave file failed");
                break;
            }
        }
        benchmark::DoNotOptimize(blocks.left.samples.data());
        file->close();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotalBytes));
    std::filesystem::remove(path);
}
BENCHMARK(BM_ReadStereoThroughWaveFile)->ArgName("aiff")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The same bytes, already interleaved, through FILE in pieces of state.range(0) bytes.
void BM_PlainBufferedWrite(benchmark::State& state) {
    const std::size_t piece = static_cast<std::size_t>(state.range(0));
    const std::string path = benchPath("plain-write");
    const std::vector<char> bytes(piece, 'x');
    for (auto _ : state) {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        for (std::size_t done = 0; done < kTotalBytes; done += piece) {
            std::fwrite(bytes.data(), 1, piece, out);
        }
        std::fclose(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotalBytes));
    std::filesystem::remove(path);
}
BENCHMARK(BM_PlainBufferedWrite)->ArgName("piece")->Arg(kBlockBytes)->Arg(64 * 1024)->Unit(benchmark::kMillisecond);

void BM_PlainBufferedRead(benchmark::State& state) {
    const std::size_t piece = static_cast<std::size_t>(state.range(0));
    const std::string path = benchPath("plain-read");
    std::vector<char> bytes(piece, 'x');
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        for (std::size_t done = 0; done < kTotalBytes; done += piece) {
            std::fwrite(bytes.data(), 1, piece, out);
        }
        std::fclose(out);
    }
    for (auto _ : state) {
        std::FILE* in = std::fopen(path.c_str(), "rb");
        while (std::fread(bytes.data(), 1, piece, in) == piece) {
            benchmark::DoNotOptimize(bytes.data());
        }
        std::fclose(in);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotalBytes));
    std::filesystem::remove(path);
}
BENCHMARK(BM_PlainBufferedRead)->ArgName("piece")->Arg(kBlockBytes)->Arg(64 * 1024)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
