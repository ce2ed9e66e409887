// Takes completed in a folder that is a real user-space mount of a FAT image: the take is read
// back from the image after unmounting with mtools, which must agree that the take's name is its
// real first cluster, that our chain reader gives the clusters mshowfat lists, and that the
// bytes are laid out as the recorder lays them out. (fusefat itself cannot read folders of
// volumes with 64 KiB clusters, so the mount is tried with the KRV family's 32 KiB clusters.)

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "disk/DiskLayout.h"
#include "volume/FolderDiskFiles.h"
#include "disk/Song.h"
#include "disk/TakeFile.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/FatImages.h"
#include "tests/support/FuseMount.h"
#include "tests/volume/VolumeTestImages.h"
#include "volume/HostVolume.h"

namespace korvo {
namespace {

struct Case {
    const char* name;
    DiskFamily family;
    fat::FatType type;
    std::uint32_t clusterBytes;
    std::uint8_t dataType;
    int width;
};

std::string hex4(std::uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

class VolumeFuseTake : public ::testing::TestWithParam<Case> {};

TEST_P(VolumeFuseTake, CompletedTakeIsNamedAfterItsRealFirstCluster) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    const Case c = GetParam();
    test::TemporaryFolder folder;
    const std::string image = folder.path() + "/recorder.img";
    ASSERT_TRUE(test::mkfsFat(image, c.type, c.clusterBytes,
                              test::smallVolumeBytes(c.type, c.clusterBytes)));
    const std::string songFolder = songFolderName(c.family, 0);
    ASSERT_TRUE(test::mmd(image, songFolder));
    // A hole of two clusters before other data, so that the new take starts in the hole and
    // continues past the file after it: its chain is in two pieces.
    ASSERT_TRUE(test::mcopyBytesIn(image, test::Bytes(2 * c.clusterBytes, 0x11), "HOLE.BIN"));
    ASSERT_TRUE(test::mcopyBytesIn(image, test::Bytes(c.clusterBytes + 1, 0x22), "KEEP.BIN"));
    ASSERT_TRUE(test::runCommand("MTOOLS_SKIP_CHECK=1 mdel -i " + test::shellQuote(image) +
                                 " ::/HOLE.BIN")
                    .status == 0);

    const SongListEntry entry = test::songEntry(0, "FUSE", test::kRate44100, c.dataType);
    const CSong song(entry, c.family);
    const TakeGeometry geometry = *TakeGeometry::of(c.family, c.width);
    const auto blocks = test::patternBlocks(c.width, 3 * geometry.blocksPerCluster + 7);

    std::string takePath;
    std::vector<std::uint16_t> chainAtCompletion;
    {
        const std::string mountPoint = folder.path() + "/mnt";
        test::FuseMount mount(image, mountPoint);
        if (!mount.mounted()) GTEST_SKIP() << mount.whyNot();
        CFolderDiskFiles disk(mountPoint, {});
        {
            CTakeWriter writer(disk, geometry, song, 5);
            ASSERT_TRUE(writer.created());
            for (const auto& block : blocks) ASSERT_TRUE(writer.writeBlock(block.data()));
            ASSERT_TRUE(writer.complete());
            takePath = writer.take().path();
            chainAtCompletion = writer.take().chain();
        }
        {
            // A take that is never completed leaves nothing behind on the mount.
            CTakeWriter abandoned(disk, geometry, song, 6);
            ASSERT_TRUE(abandoned.created());
            ASSERT_TRUE(abandoned.writeBlock(blocks.front().data()));
        }
        ASSERT_TRUE(mount.unmount());
    }

    ASSERT_FALSE(chainAtCompletion.empty());
    EXPECT_EQ(takePath, songFolder + "/TAKE" + hex4(chainAtCompletion.front()) + ".KRV");

    const auto shown = test::runCommand("MTOOLS_SKIP_CHECK=1 mshowfat -i " +
                                        test::shellQuote(image) + " " +
                                        test::shellQuote("::/" + takePath));
    ASSERT_EQ(shown.status, 0) << takePath << " is not on the image: " << shown.output;
    const std::vector<std::uint16_t> expected = test::parseShowFat(shown.output);
    ASSERT_FALSE(expected.empty()) << shown.output;
    EXPECT_EQ(takePath, songFolder + "/TAKE" + hex4(expected.front()) + ".KRV");
    EXPECT_EQ(chainAtCompletion, expected);
    bool inPieces = false;
    for (std::size_t k = 1; k < expected.size(); ++k)
        inPieces = inPieces || expected[k] != expected[k - 1] + 1;
    // fusefat allocates from the start of the FAT only on FAT12/16; on FAT32 it follows the
    // volume's next-free hint past the hole.
    if (c.type != fat::FatType::fat32) {
        EXPECT_TRUE(inPieces) << "the take was expected to fill the hole first: " << shown.output;
    }

    std::vector<std::uint16_t> reread;
    std::string reason;
    EXPECT_TRUE(clusterChainOnDevice(image, 0, takePath, reread, &reason)) << reason;
    EXPECT_EQ(reread, expected);

    EXPECT_EQ(test::mcopyOut(image, takePath), test::takeFileBytes(c.family, c.width, blocks));
    const auto listing = test::mdir(image, songFolder);
    ASSERT_TRUE(listing);
    for (std::size_t k = 0; k < listing->shortNames.size(); ++k) {
        EXPECT_EQ(listing->shortNames[k].find("TMP"), std::string::npos) << listing->shortNames[k];
        EXPECT_EQ(listing->longNames[k].find("TMP"), std::string::npos) << listing->longNames[k];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Recorders, VolumeFuseTake,
    ::testing::Values(Case{"krv_fat16_32k", kFamilyKrv, fat::FatType::fat16, 32768,
                           test::kDataTypeLv1, 5},
                      Case{"krv_fat32_32k", kFamilyKrv, fat::FatType::fat32, 32768,
                           test::kDataTypeLv2, 4},
                      Case{"krv_fat12_32k", kFamilyKrv, fat::FatType::fat12, 32768,
                           test::kDataTypeMt2, 6}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvo
