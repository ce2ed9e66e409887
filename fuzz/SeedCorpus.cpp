// Writes the seed corpus of every harness: the recorder files, wave files and FAT images that
// the tests' fixture builders make, one file per seed under <folder>/<harness>/. FAT images are
// cut after their last non-zero byte (the harnesses read zeros past an input's end).
//
//   korvo_fuzz_seeds build-fuzz/fuzz-seeds
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "disk/DiskLayout.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/FatImages.h"
#include "tests/volume/VolumeTestImages.h"
#include "tests/wavefile/WaveFixtures.h"
#include "wavefile/WaveFile.h"

namespace korvo {
namespace {

using test::Bytes;

class SeedWriter {
public:
    explicit SeedWriter(std::filesystem::path root) : root_(std::move(root)) {}

    void add(const std::string& harness, const std::string& name, const Bytes& bytes) {
        std::filesystem::create_directories(root_ / harness);
        test::writeHostFile((root_ / harness / name).string(), bytes);
        ++count_;
    }
    int count() const { return count_; }

private:
    std::filesystem::path root_;
    int count_ = 0;
};

Bytes trimmed(Bytes bytes) {
    while (!bytes.empty() && bytes.back() == 0) {
        bytes.pop_back();
    }
    return bytes;
}

Bytes imageBytes(test::SparseImage& image) {
    Bytes bytes(static_cast<std::size_t>(image.size()));
    image.readAt(0, bytes.data(), bytes.size());
    return trimmed(std::move(bytes));
}

void songLists(SeedWriter& seeds) {
    SongListEntry named = test::songEntry(7, "ABCDEFGHIJKL", 0x41, test::kDataTypeMt2);
    named.unknown0 = 0xFEDC;
    seeds.add("song_list", "empty", test::songListBytes({}));
    seeds.add("song_list", "three",
              test::songListBytes({named, test::songEntry(2, "B"), test::songEntry(0, "A")}));
    seeds.add("song_list", "duplicates",
              test::songListBytes({test::songEntry(1, "ONE"), test::songEntry(1, "AGAIN")}));
    seeds.add("song_list", "count_beyond_entries",
              test::songListBytes({test::songEntry(0, "A")}, 65535));
}

void songFiles(SeedWriter& seeds) {
    std::array<std::string, kVirtualTracks> names;
    seeds.add("song_file", "unnamed", test::songFileBytes(names));
    for (int v = 0; v < kVirtualTracks; ++v) {
        names[v] = v % 3 == 0 ? "TRACK" + std::to_string(v) : v % 3 == 1 ? "NINECHARS" : "";
    }
    seeds.add("song_file", "named_long", test::songFileBytes(names, 2048));
}

void eventLists(SeedWriter& seeds) {
    seeds.add("event_list", "empty", test::emptyEventListBytes());
    test::EventListDescription events;
    events.history = {test::takeEvent(9, 0, 500, 0x0002)};
    events.chains[9] = {test::takeEvent(9, 0, 500, 0x0002),
                        test::takeEvent(9, 400, 900, 0x0005, 20)};
    events.chains[0] = {test::takeEvent(0, 1000, 1200, 0x0010)};
    seeds.add("event_list", "two_tracks", test::eventListBytes(events));
    EventRecord invalid = test::takeEvent(3, 10, 20, 0x0002);
    invalid.lastCluster = 0xFFFF;
    events.chains[3] = {invalid, test::takeEvent(3, 5, 8, 0x0003)};
    events.countOverrides[64] = 3;
    seeds.add("event_list", "invalid_and_short", test::eventListBytes(events));
}

void waves(SeedWriter& seeds) {
    test::TemporaryFolder folder;
    const struct {
        int type;
        const char* harness;
    } kinds[] = {{KorvoLib::Korvo::kWaveTypeRiff, "riff_wave"},
                 {KorvoLib::Korvo::kWaveTypeAiff, "aiff_wave"}};
    for (const auto& kind : kinds) {
        for (const int channels : {1, 2, 3}) {
            const std::string path = folder.path() + "/wave";
            const std::uint32_t frames = 40;
            if (test::exportWave(kind.type, path, channels, 44100,
                                 test::testSamples(frames * channels), frames)) {
                seeds.add(kind.harness, "exported_" + std::to_string(channels),
                          test::readHostFile(path));
            }
        }
    }
    // Chunks the reader skips, an odd chunk size with its pad byte, the format after the data.
    const Bytes samples = test::littleSamples(test::testSamples(33));
    seeds.add("riff_wave", "list_and_odd_chunk",
              test::container(false, "RIFF", "WAVE",
                              {test::chunk(false, "LIST", Bytes(7, 'x')),
                               test::chunk(false, "fmt ", test::riffFormatBody(1, 1, 32000, 16)),
                               test::chunk(false, "data", samples)}));
    seeds.add("riff_wave", "format_after_data",
              test::container(
                  false, "RIFF", "WAVE",
                  {test::chunk(false, "data", samples),
                   test::chunk(false, "fmt ", test::riffFormatBody(1, 3, 48000, 16, false))}));
}

void handBuiltImages(SeedWriter& seeds) {
    using test::TestFatImage;
    {
        TestFatImage fat(TestFatImage::fat12(600));
        fat.linkChain({3, 4, 5, 9});
        fat.addRootFile("TAKE    KRV", 3, 4 * 512);
        fat.linkChain({20, 21, 20});  // a cycle
        fat.addRootFile("LOOP    BIN", 20, 3 * 512, 1);
        seeds.add("fat_walk", "fat12_chain_and_cycle", imageBytes(fat.image()));
        seeds.add("take_chain", "fat12_chain_and_cycle", imageBytes(fat.image()));
        seeds.add("fat_boot", "fat12", imageBytes(fat.image()));
    }
    {
        test::FatImageGeometry geometry = TestFatImage::fat16(4400, 1);
        geometry.rootEntries = 16;
        TestFatImage fat(geometry);
        fat.linkChain({10, 11, 500, 12});
        fat.addRootFile("TAKE    KRV", 10, 4 * 512);
        seeds.add("fat_walk", "fat16_fragmented", imageBytes(fat.image()));
        seeds.add("take_chain", "fat16_fragmented", imageBytes(fat.image()));
        seeds.add("fat_boot", "fat16", imageBytes(fat.image()));
    }
    {
        TestFatImage fat(TestFatImage::fat32(2000));
        fat.linkChain({3, 4, 7});
        fat.addRootFile("TAKE    KRV", 3, 3 * 512);
        seeds.add("fat_walk", "fat32_small", imageBytes(fat.image()));
        seeds.add("take_chain", "fat32_small", imageBytes(fat.image()));
        seeds.add("fat_boot", "fat32", imageBytes(fat.image()));
    }
}

// Recorder disks as the FAT tools write them: a song with an event list and a take.
void toolImages(SeedWriter& seeds) {
    if (!test::fatToolsAvailable()) {
        std::fprintf(stderr, "dosfstools or mtools missing: no seed images made by them\n");
        return;
    }
    test::DiskFixture disk(kFamilyKrv);
    disk.addSong(test::songEntry(0, "DEMO"));
    test::EventListDescription events;
    events.chains[9] = {test::takeEvent(9, 0, 300, 0x0002)};
    disk.setEvents(0, events);
    disk.addTake(0, 0x0002, test::patternBlocks(5, 300));
    test::TemporaryFolder folder;
    const struct {
        fat::FatType type;
        const char* name;
    } kinds[] = {{fat::FatType::fat12, "recorder_fat12"}, {fat::FatType::fat16, "recorder_fat16"}};
    for (const auto& kind : kinds) {
        const std::string image = folder.path() + "/disk.img";
        if (!test::imageFromFolder(disk.root(), image, kind.type, 512,
                                   test::smallVolumeBytes(kind.type, 512))) {
            continue;
        }
        const Bytes bytes = trimmed(test::readHostFile(image));
        seeds.add("fat_boot", kind.name, Bytes(bytes.begin(), bytes.begin() + 512));
        seeds.add("fat_walk", kind.name, bytes);
        seeds.add("take_chain", kind.name, bytes);
    }
}

}  // namespace
}  // namespace korvo

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    korvo::SeedWriter seeds(argv[1]);
    korvo::songLists(seeds);
    korvo::songFiles(seeds);
    korvo::eventLists(seeds);
    korvo::waves(seeds);
    korvo::handBuiltImages(seeds);
    korvo::toolImages(seeds);
    std::printf("%d seeds written to %s\n", seeds.count(), argv[1]);
    return 0;
}
