// An image whose writes stop at any point (the power goes, the cable is pulled) must stay a
// sound FAT volume: at most clusters that no file refers to, never a cross-link or a broken
// folder, and the files that were there before unchanged.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/DiskFixture.h"
#include "tests/support/FatImages.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo {
namespace {

using fat::FatType;

std::vector<std::uint8_t> pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>((i * 31 + seed * 7) ^ (i >> 8));
    return bytes;
}

// Create, write, rename and delete, carried on as far as the disk lets it; every failure is
// expected once the writes stop.
void runScenario(IDiskFiles& disk) {
    const auto take = pattern(5000, 1);
    if (auto stream = disk.open("SONG0000.KRV/TAKEXXXX.KRV.TMP05", OpenMode::write)) {
        for (std::size_t at = 0; at < take.size(); at += 10) stream->write(take.data() + at, 10);
        stream->close();
    }
    disk.rename("SONG0000.KRV/TAKEXXXX.KRV.TMP05", "SONG0000.KRV/TAKE0100.KRV");
    // Enough long names to make the folder grow by a cluster.
    for (int i = 0; i < 9; ++i) {
        if (auto stream = disk.open("SONG0001.KRV/TAKEXXXX.KRV.TMP" + std::to_string(10 + i), OpenMode::write)) {
            const auto bytes = pattern(700, 10 + i);
            stream->write(bytes.data(), bytes.size());
            stream->close();
        }
    }
    disk.remove("SONG0001.KRV/TAKEXXXX.KRV.TMP12");
    // A file grown in place: its chain on the disk is linked to the new clusters.
    if (auto stream = disk.open("SONG0001.KRV/TAKEXXXX.KRV.TMP10", OpenMode::update)) {
        const auto bytes = pattern(2500, 4);
        stream->seek(700);
        stream->write(bytes.data(), bytes.size());
        stream->close();
    }
    if (auto stream = disk.open("SONG0000.KRV/EVENTLS0.KRV", OpenMode::write)) {
        const auto bytes = pattern(1500, 3);
        stream->write(bytes.data(), bytes.size());
        stream->close();
    }
    disk.remove("SONG0000.KRV/TAKE0100.KRV");
}

struct CrashCase {
    FatType type;
    bool reorder;  // the writes since the last flush reach the disk in any order
};

class FatInterruptedWrites : public testing::TestWithParam<CrashCase> {};

TEST_P(FatInterruptedWrites, EveryStoppingPointLeavesAtMostLostClusters) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    test::TemporaryFolder folder;
    const std::string pristine = folder.path() + "/pristine.img";
    const std::string image = folder.path() + "/disk.img";
    const FatType type = GetParam().type;
    const std::uint32_t cluster = type == FatType::fat12 ? 1024 : 512;
    ASSERT_TRUE(test::mkfsFat(pristine, type, cluster, test::smallVolumeBytes(type, cluster)));
    const auto system = pattern(20, 5);
    const auto events = pattern(1200, 6);
    const auto oldTake = pattern(3 * cluster + 5, 7);
    ASSERT_TRUE(test::mcopyBytesIn(pristine, system, "SYSTEM.KRV"));
    ASSERT_TRUE(test::mmd(pristine, "SONG0000.KRV"));
    ASSERT_TRUE(test::mmd(pristine, "SONG0001.KRV"));
    ASSERT_TRUE(test::mcopyBytesIn(pristine, events, "SONG0000.KRV/EVENTLS0.KRV"));
    ASSERT_TRUE(test::mcopyBytesIn(pristine, oldTake, "SONG0000.KRV/TAKE0002.KRV"));

    // How many writes the whole scenario makes: each one is logged.
    std::filesystem::copy_file(pristine, image, std::filesystem::copy_options::overwrite_existing);
    test::UndoLog undo;
    {
        auto disk = openImageDiskFiles(
            std::make_unique<test::InterruptedDevice>(test::openImageDevice(image), 0, &undo), image, 0);
        runScenario(*disk);
    }
    const std::uint64_t total = undo.replaced.size();
    ASSERT_GT(total, 20u);
    ASSERT_TRUE(test::fsckFat(image).clean()) << test::fsckFat(image).output;

    for (std::uint64_t k = 1; k <= total; ++k) {
        ASSERT_TRUE(test::undoWrites(image, undo));
        {
            auto device = std::make_unique<test::InterruptedDevice>(test::openImageDevice(image), k, &undo,
                                                                    GetParam().reorder);
            auto disk = openImageDiskFiles(std::move(device), image, 0);
            runScenario(*disk);
        }
        const auto check = test::fsckFat(image);
        std::string offending;
        EXPECT_TRUE(test::fsckFindingsHarmless(check.output, offending))
            << "writes stopped at " << k << " of " << total << ": " << offending << "\n" << check.output;
        EXPECT_EQ(test::mcopyOut(image, "SYSTEM.KRV"), system) << "at " << k;
        EXPECT_EQ(test::mcopyOut(image, "SONG0000.KRV/TAKE0002.KRV"), oldTake) << "at " << k;
        const auto eventsNow = test::mcopyOut(image, "SONG0000.KRV/EVENTLS0.KRV");
        EXPECT_TRUE(eventsNow == events || eventsNow == pattern(1500, 3))
            << "the event list is either the old or the new one, at " << k;
        if (HasFailure()) break;
    }
    ASSERT_TRUE(test::undoWrites(image, undo));
    EXPECT_EQ(test::readHostFile(image), test::readHostFile(pristine)) << "the undo log put the image back";
}

INSTANTIATE_TEST_SUITE_P(Types, FatInterruptedWrites,
                         testing::Values(CrashCase{FatType::fat12, false}, CrashCase{FatType::fat16, false},
                                         CrashCase{FatType::fat32, false}, CrashCase{FatType::fat12, true},
                                         CrashCase{FatType::fat32, true}),
                         [](const testing::TestParamInfo<CrashCase>& info) {
                             const std::string type = info.param.type == FatType::fat12   ? "Fat12"
                                                      : info.param.type == FatType::fat16 ? "Fat16"
                                                                                          : "Fat32";
                             return type + (info.param.reorder ? "CacheReordersWrites" : "WritesInOrder");
                         });

}  // namespace
}  // namespace korvo
