#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "volume/FolderDiskFiles.h"
#include "disk/Song.h"
#include "disk/TakeFile.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/FaultyDiskFiles.h"

namespace korvo {
namespace {

using test::Bytes;
using test::DiskFixture;

std::uint8_t dataTypeOfWidth(int width) {
    switch (width) {
        case 4:
            return test::kDataTypeLv2;
        case 5:
            return test::kDataTypeLv1;
        case 6:
            return test::kDataTypeMt2;
        default:
            return 0;
    }
}

// A disk with one song of the block width, holding one take of `blocks` pattern blocks.
struct TakeDisk {
    TakeDisk(DiskFamily family, int width, std::uint32_t blocks, std::uint16_t take = 0x0002)
        : disk(family),
          entry(test::songEntry(0, "S", test::kRate44100, dataTypeOfWidth(width))),
          song(entry, family),
          files(disk.root(), {}),
          geometry(*TakeGeometry::of(family, width)) {
        disk.addSong(entry);
        if (blocks > 0) {
            disk.addTake(0, take, test::patternBlocks(width, blocks));
        }
    }
    DiskFixture disk;
    SongListEntry entry;
    CSong song;
    CFolderDiskFiles files;
    TakeGeometry geometry;
};

Bytes readOneBlock(CTakeFile& take) {
    Bytes block(take.geometry().blockBytes);
    return take.readBlock(block.data()) ? block : Bytes{};
}

TEST(TakeGeometry, FollowsTheRecorderTable) {
    struct Row {
        DiskFamily family;
        int width;
        std::uint32_t cluster, perCluster, slack;
    };
    for (const Row& row :
         {Row{kFamilyKrv, 4, 32768, 4096, 0}, Row{kFamilyKrv, 5, 32768, 3276, 8},
          Row{kFamilyKrv, 6, 32768, 2730, 8}, Row{kFamilyKrv, 8, 32768, 2048, 0},
          Row{kFamilyQmt, 4, 65536, 8192, 0}, Row{kFamilyQms, 5, 65536, 6552, 16},
          Row{kFamilyQmt, 6, 65536, 5460, 16}, Row{kFamilyQms, 8, 65536, 4096, 0}}) {
        auto geometry = TakeGeometry::of(row.family, row.width);
        ASSERT_TRUE(geometry);
        EXPECT_EQ(geometry->clusterBytes, row.cluster);
        EXPECT_EQ(geometry->blockBytes, 2u * row.width);
        EXPECT_EQ(geometry->blocksPerCluster, row.perCluster);
        EXPECT_EQ(geometry->slackBytes, row.slack);
    }
    EXPECT_FALSE(TakeGeometry::of(kFamilyKrv, 0));
    EXPECT_FALSE(TakeGeometry::of(kFamilyKrv, 7));
    EXPECT_FALSE(TakeGeometry::of(kFamilyNone, 5));
}

TEST(TakeFile, OpensAtTheByteOfItsBlockOffset) {
    TakeDisk t(kFamilyKrv, 5, 3278);
    EXPECT_EQ(t.geometry.blockPosition(3276), 32768u);
    EXPECT_EQ(t.geometry.blockPosition(3275), 32750u);
    CTakeFile take(t.files, t.geometry);
    ASSERT_TRUE(take.openForReading(t.song, 0x0002, 3276));
    EXPECT_EQ(readOneBlock(take), test::patternBlock(5, 3276));
    ASSERT_TRUE(take.openForReading(t.song, 0x0002, 3275));
    EXPECT_EQ(readOneBlock(take), test::patternBlock(5, 3275));
    EXPECT_EQ(readOneBlock(take), test::patternBlock(5, 3276));  // the slack is skipped
    EXPECT_EQ(readOneBlock(take), test::patternBlock(5, 3277));
    EXPECT_TRUE(readOneBlock(take).empty());  // past the end of the take
}

TEST(TakeFile, ReadsEveryBlockInOrderAcrossClustersOfEveryGeometry) {
    for (DiskFamily family : {kFamilyKrv, kFamilyQmt}) {
        for (int width : {4, 5, 6}) {
            const std::uint32_t perCluster = TakeGeometry::of(family, width)->blocksPerCluster;
            const std::uint32_t blocks = 2 * perCluster + 3;
            TakeDisk t(family, width, blocks);
            CTakeFile take(t.files, t.geometry);
            ASSERT_TRUE(take.openForReading(t.song, 0x0002, 0));
            for (std::uint32_t b = 0; b < blocks; ++b) {
                ASSERT_EQ(readOneBlock(take), test::patternBlock(width, b))
                    << "family " << family << " width " << width << " block " << b;
            }
            EXPECT_TRUE(readOneBlock(take).empty());
            // Opening inside the second cluster continues into the third.
            ASSERT_TRUE(take.openForReading(t.song, 0x0002, 2 * perCluster - 1));
            EXPECT_EQ(readOneBlock(take), test::patternBlock(width, 2 * perCluster - 1));
            EXPECT_EQ(readOneBlock(take), test::patternBlock(width, 2 * perCluster));
        }
    }
}

TEST(TakeFile, AMissingTakeOrUnknownWidthCannotBeRead) {
    TakeDisk t(kFamilyKrv, 5, 10);
    CTakeFile missing(t.files, t.geometry);
    EXPECT_FALSE(missing.openForReading(t.song, 0x0003, 0));
    Bytes block(10);
    EXPECT_FALSE(missing.readBlock(block.data()));
    CTakeFile noGeometry(t.files, TakeGeometry{});
    EXPECT_FALSE(noGeometry.openForReading(t.song, 0x0002, 5));
    EXPECT_FALSE(noGeometry.createForWriting(t.song, 0));
}

TEST(TakeWriter, LaysOutBlocksAsTheRecorderDoesAndNamesTheTakeAfterItsFirstCluster) {
    for (DiskFamily family : {kFamilyKrv, kFamilyQms}) {
        for (int width : {4, 5, 6}) {
            TakeDisk t(family, width, 0);
            const std::uint32_t blocks = t.geometry.blocksPerCluster + 1;
            test::FaultyDiskFiles disk(t.files);
            disk.answerClusterChains({0x0002, 0x0003});
            {
                CTakeWriter writer(disk, t.geometry, t.song, 5);
                ASSERT_TRUE(writer.created());
                EXPECT_TRUE(t.disk.fileExists(t.disk.songPath(0, "TAKEXXXX.KRV.TMP05")));
                for (std::uint32_t b = 0; b < blocks; ++b) {
                    ASSERT_TRUE(writer.writeBlock(test::patternBlock(width, b).data()));
                }
                ASSERT_TRUE(writer.complete());
                EXPECT_EQ(writer.take().path(), t.disk.songPath(0, "TAKE0002.KRV"));
                EXPECT_EQ(writer.take().chain(), (std::vector<std::uint16_t>{2, 3}));
            }
            auto written = t.disk.readFile(t.disk.songPath(0, "TAKE0002.KRV"));
            ASSERT_TRUE(written) << "family " << family << " width " << width;
            const Bytes expected =
                test::takeFileBytes(family, width, test::patternBlocks(width, blocks));
            ASSERT_EQ(written->size(), expected.size())
                << "family " << family << " width " << width;
            EXPECT_TRUE(*written == expected)
                << "family " << family << " width " << width << ": first difference at byte "
                << (std::mismatch(written->begin(), written->end(), expected.begin()).first -
                    written->begin());
            EXPECT_FALSE(t.disk.fileExists(t.disk.songPath(0, "TAKEXXXX.KRV.TMP05")));
        }
    }
}

TEST(TakeWriter, FillsTheSlackWithTheStartOfTheNextBlock) {
    TakeDisk t(kFamilyKrv, 5, 0);
    test::FaultyDiskFiles disk(t.files);
    disk.answerClusterChains({0x01A3});
    {
        CTakeWriter writer(disk, t.geometry, t.song, 12);
        for (std::uint32_t b = 0; b < 3277; ++b) {
            ASSERT_TRUE(writer.writeBlock(test::patternBlock(5, b).data()));
        }
        ASSERT_TRUE(writer.complete());
    }
    auto written = t.disk.readFile(t.disk.songPath(0, "TAKE01A3.KRV"));
    ASSERT_TRUE(written);
    ASSERT_EQ(written->size(), 32778u);
    Bytes last = test::patternBlock(5, 3276);
    EXPECT_EQ(Bytes(written->begin() + 32760, written->begin() + 32768),
              Bytes(last.begin(), last.begin() + 8));
    EXPECT_EQ(Bytes(written->begin() + 32768, written->end()), last);
}

TEST(TakeWriter, AnUncompletedTakeIsDeleted) {
    TakeDisk t(kFamilyKrv, 5, 0);
    {
        CTakeWriter writer(t.files, t.geometry, t.song, 3);
        ASSERT_TRUE(writer.writeBlock(test::patternBlock(5, 0).data()));
    }
    EXPECT_EQ(t.disk.listFolder(t.disk.songFolder(0)),
              (std::vector<std::string>{"EVENTLS0.KRV", "SONG.KRV"}));
}

TEST(TakeWriter, AFailedCompletionKeepsNothing) {
    TakeDisk t(kFamilyKrv, 5, 0);
    const auto before = t.disk.listFolder(t.disk.songFolder(0));
    {
        // A folder on no FAT volume has no cluster chains to read.
        CTakeWriter writer(t.files, t.geometry, t.song, 3);
        ASSERT_TRUE(writer.writeBlock(test::patternBlock(5, 0).data()));
        EXPECT_FALSE(writer.complete());
        EXPECT_FALSE(writer.completed());
        EXPECT_FALSE(writer.writeBlock(test::patternBlock(5, 1).data()));
    }
    EXPECT_EQ(t.disk.listFolder(t.disk.songFolder(0)), before);

    // A take of that name already on the disk is not replaced.
    t.disk.addTake(0, 0x0002, test::patternBlocks(5, 4));
    const auto existing = t.disk.readFile(t.disk.songPath(0, "TAKE0002.KRV"));
    test::FaultyDiskFiles disk(t.files);
    disk.answerClusterChains({0x0002});
    {
        CTakeWriter writer(disk, t.geometry, t.song, 3);
        ASSERT_TRUE(writer.writeBlock(test::patternBlock(5, 9).data()));
        EXPECT_FALSE(writer.complete());
    }
    EXPECT_EQ(t.disk.readFile(t.disk.songPath(0, "TAKE0002.KRV")), existing);
    EXPECT_FALSE(t.disk.fileExists(t.disk.songPath(0, "TAKEXXXX.KRV.TMP03")));
}

TEST(TakeWriter, AWriteFailureFailsTheTake) {
    TakeDisk t(kFamilyKrv, 4, 0);
    test::FaultyDiskFiles disk(t.files);
    disk.setRoom(8 * 100);
    disk.answerClusterChains({0x0002});
    {
        CTakeWriter writer(disk, t.geometry, t.song, 0);
        bool all = true;
        for (std::uint32_t b = 0; b < 20000 && all; ++b) {
            all = writer.writeBlock(test::patternBlock(4, b).data());
        }
        // The stream buffers its writes, so the failure shows at the latest on completion.
        EXPECT_FALSE(all && writer.complete());
    }
    EXPECT_FALSE(t.disk.fileExists(t.disk.songPath(0, "TAKEXXXX.KRV.TMP00")));
    EXPECT_FALSE(t.disk.fileExists(t.disk.songPath(0, "TAKE0002.KRV")));
}

}  // namespace
}  // namespace korvo
