// Reading and writing a take through the FAT image file system, with the image in the host's
// page cache: once as raw 10-byte blocks on a stream, once through the take reader and writer
// (LV1 blocks laid out cluster by cluster, completion to TAKEhhhh.KRV).
//
// The file system flushes the device when a file is closed or renamed; the page-cache figures
// leave that flush out (a device whose flush does nothing), the Durable one keeps it and so
// includes writing the take to the host's disk.
//
//   taskset -c 0 build/bin/bench_fatimage --benchmark_min_time=0.2

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "disk/Song.h"
#include "disk/TakeFile.h"
#include "volume/fat/FatFormat.h"
#include "volume/fat/ImageDiskFiles.h"

namespace {

constexpr std::size_t kBlockBytes = 10;          // an LV1 block
constexpr std::size_t kTakeBytes = 64u << 20;    // 64 MiB, about 12 minutes of one track
constexpr std::uint32_t kTakeBlocks = 3276 * 2048;  // 64 MiB of clusters in LV1 blocks

class ImageOnDisk {
public:
    ImageOnDisk() {
        path_ = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                std::string("/bench_fatimage_") + std::to_string(::getpid()) + ".img";
        korvo::fat::FormatOptions options;
        options.type = korvo::fat::FatType::fat16;
        options.clusterBytes = 32768;
        ok_ = korvo::fat::formatImageFile(path_, 4200ull * 32768 + (1 << 20), options);
        if (ok_) ok_ = korvo::openImageDiskFiles(path_, 0)->makeFolder("SONG0000.KRV");
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

// The image as a device whose flush does nothing: writes stay in the page cache.
class CachedDevice final : public korvo::fat::IBlockTarget {
public:
    explicit CachedDevice(std::unique_ptr<korvo::fat::IBlockTarget> inner) : inner_(std::move(inner)) {}
    bool readAt(std::uint64_t offset, void* out, std::size_t n) override { return inner_->readAt(offset, out, n); }
    std::uint64_t size() const override { return inner_->size(); }
    bool writeAt(std::uint64_t offset, const void* data, std::size_t n) override {
        return inner_->writeAt(offset, data, n);
    }
    bool flush() override { return true; }
    bool writable() const override { return inner_->writable(); }

private:
    std::unique_ptr<korvo::fat::IBlockTarget> inner_;
};

std::unique_ptr<korvo::IDiskFiles> openDisk(bool durable) {
    if (durable) return korvo::openImageDiskFiles(image().path(), 0);
    int error = 0;
    auto device = korvo::fat::FileBlockDevice::open(image().path(), true, &error);
    if (!device) return nullptr;
    return korvo::openImageDiskFiles(std::make_unique<CachedDevice>(std::move(device)), image().path(), 0);
}

korvo::CSong demoSong() {
    korvo::SongListEntry entry;
    std::memcpy(entry.name, "BENCH", 5);
    entry.flags = 1;     // 44100 Hz
    entry.dataType = 2;  // LV1
    return korvo::CSong(entry, korvo::kFamilyKrv);
}

bool writeRawTake(korvo::IDiskFiles& disk, const std::string& name) {
    std::vector<std::uint8_t> block(kBlockBytes, 0x5A);
    auto stream = disk.open(name, korvo::OpenMode::write);
    if (!stream) return false;
    for (std::size_t at = 0; at < kTakeBytes; at += kBlockBytes) {
        block[0] = static_cast<std::uint8_t>(at);
        if (!stream->write(block.data(), block.size())) return false;
    }
    return stream->close();
}

void BM_WriteRawTakeThroughImage(benchmark::State& state) {
    auto disk = image().ok() ? openDisk(false) : nullptr;
    if (!disk) {
        state.SkipWithError("cannot format the image");
        return;
    }
    for (auto _ : state) {
        if (!writeRawTake(*disk, "SONG0000.KRV/TAKEXXXX.KRV.TMP00")) {
            state.SkipWithError("write failed");
            return;
        }
        state.PauseTiming();
        disk->remove("SONG0000.KRV/TAKEXXXX.KRV.TMP00");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTakeBytes));
}
BENCHMARK(BM_WriteRawTakeThroughImage)->Unit(benchmark::kMillisecond);

void BM_ReadRawTakeThroughImage(benchmark::State& state) {
    auto disk = image().ok() ? openDisk(false) : nullptr;
    if (!disk || (disk->exists("SONG0000.KRV/RAW.KRV") != korvo::FileExistence::present &&
                  !writeRawTake(*disk, "SONG0000.KRV/RAW.KRV"))) {
        state.SkipWithError("cannot prepare the take");
        return;
    }
    std::vector<std::uint8_t> block(kBlockBytes);
    std::uint64_t sum = 0;
    for (auto _ : state) {
        auto stream = disk->open("SONG0000.KRV/RAW.KRV", korvo::OpenMode::read);
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
BENCHMARK(BM_ReadRawTakeThroughImage)->Unit(benchmark::kMillisecond);

// Writes one take through the take writer and completes it; the path it got, or "".
std::string writeTake(korvo::IDiskFiles& disk) {
    const korvo::CSong song = demoSong();
    korvo::CTakeWriter writer(disk, *korvo::TakeGeometry::of(korvo::kFamilyKrv, 5), song, 0);
    if (!writer.created()) return {};
    std::uint8_t block[kBlockBytes] = {0x5A};
    for (std::uint32_t b = 0; b < kTakeBlocks; ++b) {
        block[0] = static_cast<std::uint8_t>(b);
        if (!writer.writeBlock(block)) return {};
    }
    if (!writer.complete()) return {};
    return writer.take().path();
}

void writeTakes(benchmark::State& state, bool durable) {
    auto disk = image().ok() ? openDisk(durable) : nullptr;
    if (!disk) {
        state.SkipWithError("cannot format the image");
        return;
    }
    for (auto _ : state) {
        const std::string path = writeTake(*disk);
        if (path.empty()) {
            state.SkipWithError("take write failed");
            return;
        }
        state.PauseTiming();
        disk->remove(path);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTakeBytes));
}

void BM_WriteTakeThroughImage(benchmark::State& state) { writeTakes(state, false); }
BENCHMARK(BM_WriteTakeThroughImage)->Unit(benchmark::kMillisecond);

void BM_WriteTakeThroughImageDurable(benchmark::State& state) { writeTakes(state, true); }
BENCHMARK(BM_WriteTakeThroughImageDurable)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ReadTakeThroughImage(benchmark::State& state) {
    auto disk = image().ok() ? openDisk(false) : nullptr;
    const std::string path = disk ? writeTake(*disk) : std::string();
    if (path.empty()) {
        state.SkipWithError("cannot prepare the take");
        return;
    }
    // The take's number is the first cluster in its name: TAKEhhhh.KRV.
    const auto take = static_cast<std::uint16_t>(std::stoul(path.substr(path.size() - 8, 4), nullptr, 16));
    const korvo::CSong song = demoSong();
    std::uint8_t block[kBlockBytes];
    std::uint64_t sum = 0;
    for (auto _ : state) {
        korvo::CTakeFile reader(*disk, *korvo::TakeGeometry::of(korvo::kFamilyKrv, 5));
        if (!reader.openForReading(song, take, 0)) {
            state.SkipWithError("open failed");
            return;
        }
        for (std::uint32_t b = 0; b < kTakeBlocks; ++b) {
            if (!reader.readBlock(block)) {
                state.SkipWithError("read failed");
                return;
            }
            sum += block[0];
        }
    }
    benchmark::DoNotOptimize(sum);
    disk->remove(path);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTakeBytes));
}
BENCHMARK(BM_ReadTakeThroughImage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
