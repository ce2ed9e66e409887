// A recorder disk built as a folder, turned into an image: the disk check, take reading and
// take writing work on it as on the folder, and what the take writer leaves is what the
// recorder reads (a plain 8.3 TAKEhhhh.KRV named after its first cluster).

#include <gtest/gtest.h>

#include "disk/DiskLayout.h"
#include "disk/Song.h"
#include "disk/TakeFile.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/FatImages.h"
#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo {
namespace {

using fat::FatType;

class FatRecorderDisk : public testing::Test {
protected:
    void SetUp() override {
        KORVO_SKIP_WITHOUT_FAT_TOOLS();
        fixture_.addSong(test::songEntry(0, "DEMO"));
        fixture_.addTake(0, 0x0002, test::patternBlocks(5, 3300));
        image_ = images_.path() + "/recorder.img";
        ASSERT_TRUE(test::imageFromFolder(fixture_.root(), image_, FatType::fat16, 32768,
                                          test::smallVolumeBytes(FatType::fat16, 32768)));
    }
    test::DiskFixture fixture_{kFamilyKrv};
    test::TemporaryFolder images_;
    std::string image_;
};

TEST_F(FatRecorderDisk, DiskCheckFindsTheFamilyAndReadsTakesAcrossTheClusterSlack) {
    auto disk = openImageDiskFiles(image_, 0);
    DiskFamily family = kFamilyNone;
    EXPECT_EQ(checkDisk(*disk, family), kDiskWritable);
    EXPECT_EQ(family, kFamilyKrv);

    CSong song(test::songEntry(0, "DEMO"), kFamilyKrv);
    CTakeFile take(*disk, *TakeGeometry::of(kFamilyKrv, 5));
    ASSERT_TRUE(take.openForReading(song, 0x0002, 3275));
    std::uint8_t block[10];
    ASSERT_TRUE(take.readBlock(block));
    EXPECT_EQ(test::Bytes(block, block + 10), test::patternBlock(5, 3275));
    ASSERT_TRUE(take.readBlock(block));
    EXPECT_EQ(test::Bytes(block, block + 10), test::patternBlock(5, 3276));
}

TEST_F(FatRecorderDisk, ReadOnlyIdentifyingFileMakesTheDiskReadOnly) {
    ASSERT_EQ(test::runCommand("MTOOLS_SKIP_CHECK=1 mattrib -i " + test::shellQuote(image_) +
                               " +r ::/SYSTEM.KRV").status, 0);
    auto disk = openImageDiskFiles(image_, 0);
    DiskFamily family = kFamilyNone;
    EXPECT_EQ(checkDisk(*disk, family), kDiskReadOnly);
    EXPECT_EQ(family, kFamilyKrv);
}

TEST_F(FatRecorderDisk, ReadOnlyImageIsReadableButNotWritableAndStaysUntouched) {
    // Opened read-only, as an image file without write permission or a write-protected device
    // is (file modes cannot make it so when the tests run with full rights).
    const auto before = test::readHostFile(image_);
    {
        int error = 0;
        auto device = fat::FileBlockDevice::open(image_, /*writable=*/false, &error);
        ASSERT_TRUE(device);
        auto disk = openImageDiskFiles(std::move(device), image_, 0);
        DiskFamily family = kFamilyNone;
        EXPECT_EQ(checkDisk(*disk, family), kDiskReadOnly);
        EXPECT_EQ(family, kFamilyKrv);
        CSong song(test::songEntry(0, "DEMO"), kFamilyKrv);
        CTakeFile take(*disk, *TakeGeometry::of(kFamilyKrv, 5));
        EXPECT_TRUE(take.openForReading(song, 0x0002, 0));
        CTakeWriter writer(*disk, *TakeGeometry::of(kFamilyKrv, 5), song, 5);
        EXPECT_FALSE(writer.created());
        EXPECT_FALSE(disk->rename("SONG0000.KRV/TAKE0002.KRV", "SONG0000.KRV/TAKE0003.KRV"));
        EXPECT_FALSE(disk->remove("SONG0000.KRV/TAKE0002.KRV"));
    }
    EXPECT_EQ(test::readHostFile(image_), before);
}

TEST_F(FatRecorderDisk, DamagedBootDataIsNotARecorderDiskAndAnUnreadableRootCannotBeRead) {
    const auto sound = test::readHostFile(image_);
    auto zeroed = sound;
    std::fill(zeroed.begin(), zeroed.begin() + 512, 0);
    ASSERT_TRUE(test::writeHostFile(image_, zeroed));
    {
        auto disk = openImageDiskFiles(image_, 0);
        DiskFamily family = kFamilyNone;
        EXPECT_EQ(checkDisk(*disk, family), kDiskNotRecorder);
    }
    EXPECT_EQ(test::readHostFile(image_), zeroed);

    // The same recorder disk on FAT32, whose root folder's chain now runs in a circle.
    const std::string fat32 = images_.path() + "/recorder32.img";
    ASSERT_TRUE(test::imageFromFolder(fixture_.root(), fat32, FatType::fat32, 4096,
                                      test::smallVolumeBytes(FatType::fat32, 4096)));
    auto bytes = test::readHostFile(fat32);
    const auto g = fat::parseBootSector(bytes.data(), 512, bytes.size());
    ASSERT_TRUE(g && g->isFat32());
    for (std::uint32_t copy = 0; copy < g->fatCount; ++copy)
        writeLittleEndian32(&bytes[g->fatOffset(copy) + 4 * g->rootCluster], g->rootCluster);
    ASSERT_TRUE(test::writeHostFile(fat32, bytes));
    {
        auto disk = openImageDiskFiles(fat32, 0);
        DiskFamily family = kFamilyNone;
        EXPECT_EQ(checkDisk(*disk, family), kDiskAccessDenied);
        EXPECT_FALSE(disk->open("SONG0000.KRV/TAKEXXXX.KRV.TMP00", OpenMode::write));
    }
    EXPECT_EQ(test::readHostFile(fat32), bytes) << "nothing written";
}

TEST_F(FatRecorderDisk, CompletedTakeIsAPlainEightThreeEntryNamedAfterItsFirstCluster) {
    std::string finalPath;
    std::vector<std::uint16_t> chain;
    {
        auto disk = openImageDiskFiles(image_, 0);
        CSong song(test::songEntry(0, "DEMO"), kFamilyKrv);
        CTakeWriter writer(*disk, *TakeGeometry::of(kFamilyKrv, 5), song, 5);
        ASSERT_TRUE(writer.created());
        for (const auto& block : test::patternBlocks(5, 3277)) ASSERT_TRUE(writer.writeBlock(block.data()));
        ASSERT_TRUE(writer.complete());
        finalPath = writer.take().path();
        chain = writer.take().chain();
    }
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(finalPath, "SONG0000.KRV/" + takeFileName(chain.front()));
    EXPECT_EQ(test::mshowfat(image_, finalPath), (std::vector<std::uint32_t>(chain.begin(), chain.end())));
    EXPECT_EQ(test::mcopyOut(image_, finalPath), test::takeFileBytes(kFamilyKrv, 5, test::patternBlocks(5, 3277)));
    const auto listing = test::mdir(image_, "SONG0000.KRV");
    ASSERT_TRUE(listing);
    for (std::size_t i = 0; i < listing->shortNames.size(); ++i) {
        EXPECT_EQ(listing->longNames[i], "") << listing->shortNames[i] << " keeps a long name";
        EXPECT_EQ(listing->shortNames[i].find('~'), std::string::npos) << listing->shortNames[i];
    }
    EXPECT_TRUE(test::fsckFat(image_).clean()) << test::fsckFat(image_).output;
}

TEST_F(FatRecorderDisk, TakeWriterDestroyedUncompletedLeavesNoTemporaryFile) {
    {
        auto disk = openImageDiskFiles(image_, 0);
        CSong song(test::songEntry(0, "DEMO"), kFamilyKrv);
        CTakeWriter writer(*disk, *TakeGeometry::of(kFamilyKrv, 5), song, 9);
        for (const auto& block : test::patternBlocks(5, 5000)) ASSERT_TRUE(writer.writeBlock(block.data()));
    }
    const auto listing = test::mdir(image_, "SONG0000.KRV");
    ASSERT_TRUE(listing);
    for (const auto& name : listing->longNames) EXPECT_EQ(name.find("TMP"), std::string::npos) << name;
    const auto check = test::fsckFat(image_);
    EXPECT_TRUE(check.clean()) << check.output;
}

}  // namespace
}  // namespace korvo
