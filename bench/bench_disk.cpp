// Disk model timings: loading a song whose event list holds 10000 records, copying a song
// object (the backup an import keeps), and reading take blocks one at a time from the page
// cache.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "disk/DiskLayout.h"
#include "volume/FolderDiskFiles.h"
#include "disk/Song.h"
#include "disk/TakeFile.h"

namespace {

using namespace korvo;

// A KRV-family disk in a temporary folder with song 0 (LV1): 10000 events spread over the
// history list and the 64 chains, and one take of 64 MiB.
struct BenchDisk {
    std::string root;
    SongListEntry entry;
    std::uint32_t takeBlocks = 0;

    BenchDisk() {
        char pattern[] = "/tmp/korvo-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        entry.number = 0;
        entry.flags = 1;
        entry.dataType = 2;
        std::filesystem::create_directories(root + "/" + songFolderName(kFamilyKrv, 0));
        CFolderDiskFiles disk(root, {});
        disk.open("SYSTEM.KRV", OpenMode::write)->close();

        auto song = std::make_unique<CSong>(entry, kFamilyKrv);
        CEventTable& events = song->events();
        for (std::uint32_t i = 0; i < kEventCapacity; ++i) {
            std::uint16_t slot = events.takeFreeSlot();
            EventRecord& record = events.slot(slot);
            record.start = i * 100;
            record.end = i * 100 + 90;
            record.firstCluster = static_cast<std::uint16_t>(2 + i);
            record.lastCluster = record.firstCluster;
            record.virtualTrack = static_cast<std::uint8_t>(i % kVirtualTracks);
            if (i % 5 == 0) {
                events.appendToHistory(slot);
            } else {
                events.insertByStart(record.virtualTrack, slot);
            }
        }
        song->write(disk, kEventListPart);

        auto geometry = *TakeGeometry::of(kFamilyKrv, 5);
        auto take = disk.open(song->path(takeFileName(2)), OpenMode::write);
        std::vector<std::uint8_t> cluster(geometry.clusterBytes, 0x5A);
        for (int i = 0; i < 2048; ++i) {
            take->write(cluster.data(), cluster.size());
        }
        take->close();
        takeBlocks = 2048 * geometry.blocksPerCluster;
    }
    ~BenchDisk() {
        std::error_code error;
        std::filesystem::remove_all(root, error);
    }
};

BenchDisk& benchDisk() {
    static BenchDisk disk;
    return disk;
}

void LoadSongWith10000Events(benchmark::State& state) {
    BenchDisk& bench = benchDisk();
    CFolderDiskFiles disk(bench.root, {});
    auto song = std::make_unique<CSong>(bench.entry, kFamilyKrv);
    for (auto _ : state) {
        bool loaded = song->read(disk);
        benchmark::DoNotOptimize(loaded);
        if (!loaded) {
            state.SkipWithError("song did not load");
            break;
        }
    }
}
BENCHMARK(LoadSongWith10000Events)->Unit(benchmark::kMillisecond);

void CopySong(benchmark::State& state) {
    BenchDisk& bench = benchDisk();
    CFolderDiskFiles disk(bench.root, {});
    auto song = std::make_unique<CSong>(bench.entry, kFamilyKrv);
    song->read(disk);
    auto copy = std::make_unique<CSong>(*song);
    for (auto _ : state) {
        *copy = *song;
        benchmark::DoNotOptimize(copy.get());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(CopySong)->Unit(benchmark::kMicrosecond);

void ReadTakeBlocks(benchmark::State& state) {
    BenchDisk& bench = benchDisk();
    CFolderDiskFiles disk(bench.root, {});
    CSong song(bench.entry, kFamilyKrv);
    const TakeGeometry geometry = *TakeGeometry::of(kFamilyKrv, 5);
    std::uint8_t block[16];
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        CTakeFile take(disk, geometry);
        if (!take.openForReading(song, 2, 0)) {
            state.SkipWithError("take did not open");
            break;
        }
        for (std::uint32_t b = 0; b < bench.takeBlocks; ++b) {
            if (!take.readBlock(block)) {
                state.SkipWithError("block read failed");
                break;
            }
        }
        benchmark::DoNotOptimize(block);
        bytes += std::uint64_t{bench.takeBlocks} * geometry.blockBytes;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(ReadTakeBlocks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
