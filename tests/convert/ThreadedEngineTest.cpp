// Export and import work in runs of blocks on several threads: whatever the thread count, they
// give the same bytes as one thread, and the runs the same samples as reading block by block.
// Every family and block width, events that overlap run and cluster boundaries, adjacent
// events, gaps, short events, fades and inverted polarity.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/TrackReader.h"
#include "disk/DiskLayout.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"

namespace korvo::test {
namespace {

struct FamilyCase {
    DiskFamily family;
    std::uint8_t dataType;
    int width;
    int fileType;
};

const FamilyCase kCases[] = {
    {kFamilyKrv, kDataTypeLv1, 5, KorvoLib::Korvo::kWaveTypeRiff},
    {kFamilyQmt, kDataTypeMt2, 6, KorvoLib::Korvo::kWaveTypeAiff},
    {kFamilyQms, kDataTypeLv2, 4, KorvoLib::Korvo::kWaveTypeRiff},
};

constexpr std::uint32_t kSecond = 44100 >> 4;

std::string caseName(const FamilyCase& c) {
    return "family " + std::to_string(c.family);
}

// Two virtual tracks: on track 0 a late event that starts inside its take, a second event
// right after it from another take, a gap, an event shorter than a second, and a long event
// across several clusters; on track 9 one event of odd length.
void addSong(DiskFixture& disk, const FamilyCase& c) {
    disk.addSong(songEntry(0, "THREADS", kRate44100, c.dataType));
    EventListDescription events;
    const std::uint32_t first = 301;
    const std::uint32_t second = first + kSecond + 2111;
    const std::uint32_t gap = second + kSecond + 1000;
    const std::uint32_t shortOne = gap + 777;
    const std::uint32_t longOne = shortOne + kSecond / 2 + 5;
    const std::uint32_t end = longOne + 17001;
    events.chains[0] = {takeEvent(0, first, second, 0x0002, 33), takeEvent(0, second, gap, 0x0003),
                        takeEvent(0, shortOne, shortOne + kSecond / 2, 0x0004),
                        takeEvent(0, longOne, end, 0x0005)};
    events.chains[9] = {takeEvent(9, 5, 5 + 3 * kSecond + 13, 0x0006)};
    disk.setEvents(0, events);
    disk.addTake(0, 0x0002, encodeBlocks(musicSignal(second - first + 33, 2), c.width));
    disk.addTake(0, 0x0003, encodeBlocks(musicSignal(gap - second, 3), c.width));
    disk.addTake(0, 0x0004, encodeBlocks(musicSignal(kSecond / 2, 4), c.width));
    disk.addTake(0, 0x0005, encodeBlocks(musicSignal(end - longOne, 5), c.width));
    disk.addTake(0, 0x0006, encodeBlocks(musicSignal(3 * kSecond + 13, 6), c.width));
}

std::vector<std::uint8_t> exportWith(const std::string& root, const FamilyCase& c, int threads,
                                     const std::string& path) {
    auto converter = converterOn(root, 0);
    converter->setSelectedTracks({0, 9});
    converter->computeExportRange();
    converter->setOutputWave(path, c.fileType);
    converter->setThreads(threads);
    EXPECT_TRUE(converter->runExport()) << converter->status();
    return readHostFile(path);
}

TEST(ThreadedEngine, ExportGivesTheSameBytesWithAnyThreadCountAndAsBlockByBlock) {
    for (const FamilyCase& c : kCases) {
        SCOPED_TRACE(caseName(c));
        DiskFixture disk(c.family);
        addSong(disk, c);
        TemporaryFolder output;
        const auto single = exportWith(disk.root(), c, 1, output.path() + "/one");
        ASSERT_FALSE(single.empty());
        EXPECT_EQ(exportWith(disk.root(), c, 2, output.path() + "/two"), single);
        EXPECT_EQ(exportWith(disk.root(), c, 5, output.path() + "/five"), single);

        // The same samples from readers asked for one block at a time.
        auto converter = converterOn(disk.root(), 0);
        converter->setSelectedTracks({0, 9});
        converter->computeExportRange();
        const BlockRange range = converter->blockRange();
        CTrackReader low(*converter->disk(), *converter->song(), 0, range, true);
        CTrackReader high(*converter->disk(), *converter->song(), 9, range, true);
        BlockBuffer lowBuffer(c.width);
        BlockBuffer highBuffer(c.width);
        std::vector<std::int16_t> expected;
        for (std::uint32_t b = range.start; b < range.end; ++b) {
            ASSERT_TRUE(low.readBlock(lowBuffer));
            ASSERT_TRUE(high.readBlock(highBuffer));
            for (int k = 0; k < 16; ++k) {
                expected.push_back(lowBuffer.samples[k]);
                expected.push_back(highBuffer.samples[k]);
            }
        }
        const auto wave = readWave(output.path() + "/one");
        ASSERT_TRUE(wave.ok);
        EXPECT_EQ(wave.samples, expected);

        // Runs after a seek go on as the whole export does (random access in runs).
        const std::uint32_t target = range.end / 2 + 3;
        CTrackReader seeking(*converter->disk(), *converter->song(), 0, range, true);
        ASSERT_TRUE(seeking.seek(target, lowBuffer));
        TrackRun run;
        std::vector<std::int16_t> tail((range.end - target) * 16);
        ASSERT_TRUE(seeking.readRun(run, range.end - target));
        seeking.decodeRun(run, tail.data());
        for (std::size_t i = 0; i < tail.size(); ++i) {
            ASSERT_EQ(tail[i], expected[(target * 16 + i) * 2]) << i;
        }
    }
}

// A stereo wave whose length is no whole number of blocks, imported into a FAT image of the
// family; the take files and the event list that the import leaves.
std::vector<std::vector<std::uint8_t>> importWith(const FamilyCase& c, int threads,
                                                  const std::string& wave) {
    DiskFixture folder(c.family);
    folder.addSong(songEntry(0, "THREADS", kRate44100, c.dataType));
    TemporaryFolder work;
    const std::string image = work.path() + "/disk.img";
    const std::uint32_t cluster = c.family == kFamilyKrv ? 32768 : 65536;
    EXPECT_TRUE(imageFromFolder(folder.root(), image, fat::FatType::fat16, cluster,
                                smallVolumeBytes(fat::FatType::fat16, cluster)));
    auto converter = converterOn(image, 0);
    converter->setSelectedTracks({0, 9});
    EXPECT_TRUE(converter->openInputWave(wave));
    converter->computeImportRange();
    converter->setThreads(threads);
    EXPECT_TRUE(converter->runImport()) << converter->status();
    const std::string song = songFolderName(c.family, 0);
    std::vector<std::vector<std::uint8_t>> files;
    const auto listing = mdir(image, song);
    EXPECT_TRUE(listing);
    for (const std::string& name : listing ? listing->shortNames : std::vector<std::string>{}) {
        if (name.rfind("TAKE", 0) == 0 || name.rfind("EVENTLS", 0) == 0) {
            files.push_back(
                mcopyOut(image, song + "/" + name).value_or(std::vector<std::uint8_t>{}));
        }
    }
    return files;
}

TEST(ThreadedEngine, ImportGivesTheSameTakesWithAnyThreadCount) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    TemporaryFolder folder;
    const std::string wave = folder.path() + "/odd.wav";
    const std::uint32_t frames = 3 * 44100 + 7;
    std::vector<std::int16_t> interleaved;
    const auto left = musicSignal(frames / 16 + 1, 21);
    const auto right = musicSignal(frames / 16 + 1, 22);
    for (std::uint32_t i = 0; i < frames; ++i) {
        interleaved.push_back(i == 100 ? std::int16_t{-32768} : left[i]);
        interleaved.push_back(right[i]);
    }
    ASSERT_TRUE(writeWave(wave, 2, 44100, interleaved));
    for (const FamilyCase& c : kCases) {
        SCOPED_TRACE(caseName(c));
        const auto single = importWith(c, 1, wave);
        ASSERT_EQ(single.size(), 3u);  // two takes and the event list
        EXPECT_EQ(importWith(c, 3, wave), single);
    }
}

}  // namespace
}  // namespace korvo::test
