// Reading and writing a take through the FAT image file system, in the recorder's 10-byte
// blocks, with the image in the host's page cache.
//
//   build/bin/bench_fatimage --benchmark_min_time=1

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "volume/fat/FatFormat.h"
#include "volume/fat/ImageDiskFiles.h"

namespace {

constexpr std::size_t kBlockBytes = 10;          // an LV1 block
constexpr std::size_t kTakeBytes = 64u << 20;    // 64 MiB, about 12 minutes of one track

class ImageOnDisk {
public:
    ImageOnDisk() {
        path_ = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                std::string("/bench_fatimage_") + std::to_string(::getpid()) + ".img";
        korvo::fat::FormatOptions options;
        options.type = korvo::fat::FatType::fat16;
        options.clusterBytes = 32768;
        ok_ = korvo::fat::formatImageFile(path_, 4200ull * 32768 + (1 << 20), options);
    }
    ~ImageOnDisk() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    bool ok() const { return ok_; }

private:
    std::string path_;
    bool ok_ = false;
};

ImageOnDisk& image() {
    static ImageOnDisk instance;
    return instance;
}

bool writeTake(korvo::IDiskFiles& disk, const std::string& name) {
    std::vector<std::uint8_t> block(kBlockBytes, 0x5A);
    auto stream = disk.open(name, korvo::OpenMode::write);
    if (!stream) return false;
    for (std::size_t at = 0; at < kTakeBytes; at += kBlockBytes) {
        block[0] = static_cast<std::uint8_t>(at);
        if (!stream->write(block.data(), block.size())) return false;
    }
    return stream->close();
}

void BM_WriteTakeThroughImage(benchmark::State& state) {
    if (!image().ok()) {
        state.SkipWithError("cannot format the image");
        return;
    }
    auto disk = korvo::openImageDiskFiles(image().path(), 0);
    for (auto _ : state) {
        if (!writeTake(*disk, "TAKEXXXX.KRV.TMP00")) {
            state.SkipWithError("write failed");
            return;
        }
        state.PauseTiming();
        disk->remove("TAKEXXXX.KRV.TMP00");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTakeBytes));
}
BENCHMARK(BM_WriteTakeThroughImage)->Unit(benchmark::kMillisecond);

void BM_ReadTakeThroughImage(benchmark::State& state) {
    if (!image().ok()) {
        state.SkipWithError("cannot format the image");
        return;
    }
    auto disk = korvo::openImageDiskFiles(image().path(), 0);
    if (disk->exists("TAKE0002.KRV") != korvo::FileExistence::present &&
        !writeTake(*disk, "TAKE0002.KRV")) {
        state.SkipWithError("write failed");
        return;
    }
    std::vector<std::uint8_t> block(kBlockBytes);
    std::uint64_t sum = 0;
    for (auto _ : state) {
        auto stream = disk->open("TAKE0002.KRV", korvo::OpenMode::read);
        for (std::size_t at = 0; at + kBlockBytes <= kTakeBytes; at += kBlockBytes) {
            if (!stream->read(block.data(), block.size())) {
                state.SkipWithError("read failed");
                return;
            }
            sum += block[0];
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTakeBytes));
}
BENCHMARK(BM_ReadTakeThroughImage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
