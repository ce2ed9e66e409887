// Cluster chains of a 2 GiB take on a FAT32 volume with 32 KiB clusters (65536 clusters), read
// from a sparse image file through the whole operation: open, identify, directory walk, FAT walk.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <numeric>

#include "tests/volume/VolumeTestImages.h"
#include "volume/HostVolume.h"

namespace {

using korvo::test::TestFatImage;

constexpr std::uint32_t kTakeClusters = 65536;  // 2 GiB in 32 KiB clusters

// Writes the image once per process; `scattered` spreads the chain over the whole FAT so that
// consecutive entries lie in different FAT sectors.
std::string imageOf(bool scattered) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("korvo-bench-volume-" + std::to_string(::getpid()) +
                       (scattered ? "-scattered.img" : "-contiguous.img"));
    if (std::filesystem::exists(path)) return path.string();

    TestFatImage fat(TestFatImage::fat32(70000 * 64 + 2000, 64));
    std::vector<std::uint32_t> clusters(kTakeClusters);
    std::iota(clusters.begin(), clusters.end(), 3u);
    if (scattered) {
        // A fixed odd stride visits every cluster once, hopping across the FAT.
        for (std::uint32_t k = 0; k < kTakeClusters; ++k) clusters[k] = 3 + (k * 7919u) % kTakeClusters;
    }
    fat.linkChain(clusters);
    fat.addRootFile("TAKE0003KRV", clusters.front(), 0x80000000u);
    fat.image().saveTo(path.string());
    return path.string();
}

void chainOfTwoGibibyteTake(benchmark::State& state, bool scattered) {
    const std::string image = imageOf(scattered);
    std::vector<std::uint16_t> chain;
    for (auto _ : state) {
        if (!korvo::clusterChainOnDevice(image, 0, "TAKE0003.KRV", chain, nullptr) ||
            chain.size() != kTakeClusters) {
            state.SkipWithError("chain not read");
            break;
        }
        benchmark::DoNotOptimize(chain.data());
    }
    state.counters["clusters"] = static_cast<double>(chain.size());
    std::filesystem::remove(image);
}

void BM_ClusterChainOf2GiBTake(benchmark::State& state) { chainOfTwoGibibyteTake(state, false); }
void BM_ClusterChainOf2GiBTakeScattered(benchmark::State& state) {
    chainOfTwoGibibyteTake(state, true);
}

BENCHMARK(BM_ClusterChainOf2GiBTake)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClusterChainOf2GiBTakeScattered)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
