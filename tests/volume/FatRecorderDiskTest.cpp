// A recorder disk built as a folder, turned into an image: the disk check, take reading and
// take writing work on it as on the folder, and what the take writer leaves is what the
// recorder reads (a plain 8.3 TAKEhhhh.KRV named after its first cluster).

#include <gtest/gtest.h>

#include "disk/DiskLayout.h"
#include "disk/Song.h"
#include "disk/TakeFile.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/FatImages.h"
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
