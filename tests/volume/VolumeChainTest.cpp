// Cluster chains read from hand-built FAT volumes through the volume handle's modern access path.

#include <gtest/gtest.h>

#include <numeric>

#include "tests/volume/VolumeTestImages.h"
#include "volume/ClusterChain.h"
#include "volume/Platform.h"

namespace korvo {
namespace {

using test::MemoryVolumeFile;
using test::TestFatImage;

std::vector<std::uint16_t> cut(const std::vector<std::uint32_t>& clusters) {
    return {clusters.begin(), clusters.end()};
}

std::vector<std::uint32_t> run(std::uint32_t first, std::uint32_t last) {
    std::vector<std::uint32_t> clusters(last - first + 1);
    std::iota(clusters.begin(), clusters.end(), first);
    return clusters;
}

struct ChainResult {
    bool found = false;
    std::vector<std::uint16_t> chain;
    fat::ChainEnd end = fat::ChainEnd::endMark;
};

ChainResult chainOf(TestFatImage& fat, MemoryVolumeFile& file, std::string_view path = "TAKE.KRV") {
    CVolume volume(hostPlatform(), 0, &file, nullptr);
    ChainResult result;
    result.found = clusterChain(volume, path, result.chain, &result.end);
    (void)fat;
    return result;
}

TEST(VolumeChain, Fat12EntriesThatStraddleSectorsAreAssembledFromBoth) {
    TestFatImage fat(TestFatImage::fat12(4000));
    // Cluster 341 (odd) has its entry at FAT byte 511, cluster 682 (even) at byte 1023: both
    // entries are split over two FAT sectors.
    const std::vector<std::uint32_t> clusters = {340, 341, 342, 681, 682, 683};
    fat.linkChain(clusters);
    fat.addRootFile("TAKE    KRV", 340, 6 * 512);
    MemoryVolumeFile file(fat.image());

    const auto result = chainOf(fat, file);
    ASSERT_TRUE(result.found);
    EXPECT_EQ(result.chain, cut(clusters));
    EXPECT_EQ(result.end, fat::ChainEnd::endMark);
}

TEST(VolumeChain, Fat12OddClusterTakesTheHigh12BitsOfItsWord) {
    TestFatImage fat(TestFatImage::fat12(4000));
    // 3 and 4 share the FAT bytes 4..6; going 3 -> 4 -> 6 -> 5 mixes both halves.
    const std::vector<std::uint32_t> clusters = {3, 4, 6, 5};
    fat.linkChain(clusters);
    fat.addRootFile("TAKE    KRV", 3, 4 * 512);
    MemoryVolumeFile file(fat.image());

    EXPECT_EQ(chainOf(fat, file).chain, cut(clusters));
}

TEST(VolumeChain, Fat16AndFat32ChainsFollowTheFirstFat) {
    TestFatImage fat16(TestFatImage::fat16(40000));
    fat16.linkChain({10, 11, 500, 12});
    fat16.addRootFile("TAKE    KRV", 10, 4 * 2048);
    MemoryVolumeFile file16(fat16.image());
    EXPECT_EQ(chainOf(fat16, file16).chain, (std::vector<std::uint16_t>{10, 11, 500, 12}));

    TestFatImage fat32(TestFatImage::fat32(80000));
    fat32.linkChain({3, 4, 70000, 5});
    fat32.addRootFile("TAKE    KRV", 3, 4 * 512);
    MemoryVolumeFile file32(fat32.image());
    // 70000 reaches the list as its low 16 bits.
    EXPECT_EQ(chainOf(fat32, file32).chain, (std::vector<std::uint16_t>{3, 4, 70000 - 65536, 5}));
}

TEST(VolumeChain, Fat32ClustersAbove65535KeepOnlyTheirLow16Bits) {
    TestFatImage fat(TestFatImage::fat32(80000));
    const auto clusters = run(65533, 65539);
    fat.linkChain(clusters);
    fat.addRootFile("TAKE    KRV", 65533, 7 * 512);
    MemoryVolumeFile file(fat.image());

    EXPECT_EQ(chainOf(fat, file).chain,
              (std::vector<std::uint16_t>{65533, 65534, 65535, 0, 1, 2, 3}));
}

TEST(VolumeChain, TopFourBitsOfFat32EntriesAreIgnored) {
    TestFatImage fat(TestFatImage::fat32(80000));
    fat.linkChain({3, 4});
    // A reserved high nibble on an entry must not take the chain out of the volume.
    const std::uint32_t raw = 0xA0000004u;
    std::uint8_t bytes[4];
    writeLittleEndian32(bytes, raw);
    fat.image().write(fat.fatOffset() + 3 * 4, bytes, 4);
    fat.addRootFile("TAKE    KRV", 3, 1024);
    MemoryVolumeFile file(fat.image());

    EXPECT_EQ(chainOf(fat, file).chain, (std::vector<std::uint16_t>{3, 4}));
}

TEST(VolumeChain, UnreadableFatSectorEndsTheChainWithTheClustersFoundSoFar) {
    TestFatImage fat(TestFatImage::fat16(40000));
    // Entries 0..255 lie in the first FAT sector, 256.. in the second.
    fat.linkChain(run(200, 300));
    fat.addRootFile("TAKE    KRV", 200, 101 * 2048);
    MemoryVolumeFile file(fat.image());
    file.unreadableSectors.insert(fat.geometry().reservedSectors + 1);

    const auto result = chainOf(fat, file);
    EXPECT_TRUE(result.found);
    EXPECT_EQ(result.chain, cut(run(200, 256)));
    EXPECT_EQ(result.end, fat::ChainEnd::readError);
}

TEST(VolumeChain, FirstClusterOutsideTheDataClustersGivesNoChain) {
    TestFatImage fat(TestFatImage::fat16(40000));
    const std::uint32_t limit = fat.clusterCount() + 2;
    fat.addRootFile("ONE     KRV", 1, 512, 0);
    fat.addRootFile("LIMIT   KRV", limit, 512, 1);
    fat.addRootFile("BEYOND  KRV", 0xFFF0, 512, 2);
    fat.addRootFile("EMPTY   KRV", 0, 0, 3);
    fat.addRootFile("LAST    KRV", limit - 1, 512, 4);
    fat.setEntry(limit - 1, 0xFFFF);
    MemoryVolumeFile file(fat.image());

    for (const char* name : {"ONE.KRV", "LIMIT.KRV", "BEYOND.KRV", "EMPTY.KRV", "MISSING.KRV"}) {
        const auto result = chainOf(fat, file, name);
        EXPECT_FALSE(result.found) << name;
        EXPECT_TRUE(result.chain.empty()) << name;
    }
    // The highest data cluster is still a chain.
    EXPECT_EQ(chainOf(fat, file, "LAST.KRV").chain,
              std::vector<std::uint16_t>{static_cast<std::uint16_t>(limit - 1)});
}

TEST(VolumeChain, CyclicFatChainEndsWithinTheVolumesClusterCount) {
    TestFatImage fat(TestFatImage::fat12(600));
    fat.setEntry(5, 6);
    fat.setEntry(6, 7);
    fat.setEntry(7, 5);
    fat.addRootFile("LOOP    KRV", 5, 512, 0);
    fat.setEntry(9, 9);
    fat.addRootFile("SELF    KRV", 9, 512, 1);
    MemoryVolumeFile file(fat.image());

    for (const char* name : {"LOOP.KRV", "SELF.KRV"}) {
        const auto result = chainOf(fat, file, name);
        EXPECT_TRUE(result.found) << name;
        EXPECT_LE(result.chain.size(), fat.clusterCount()) << name;
        EXPECT_EQ(result.end, fat::ChainEnd::cycle) << name;
    }
}

TEST(VolumeChain, EntryThatIsNoDataClusterEndsTheChainWithoutJoiningIt) {
    TestFatImage fat(TestFatImage::fat16(40000));
    const std::uint32_t limit = fat.clusterCount() + 2;
    fat.linkChain({20, 21});
    fat.setEntry(21, limit);  // beyond the volume
    fat.addRootFile("FAR     KRV", 20, 1024, 0);
    fat.linkChain({30, 31});
    fat.setEntry(31, 0xFFF7);  // the bad-cluster mark
    fat.addRootFile("BAD     KRV", 30, 1024, 1);
    fat.linkChain({40, 41});
    fat.setEntry(41, 0);  // a free entry inside the chain
    fat.addRootFile("FREE    KRV", 40, 1024, 2);
    fat.linkChain({50});
    fat.setEntry(50, 1);
    fat.addRootFile("ONE     KRV", 50, 1024, 3);
    MemoryVolumeFile file(fat.image());

    EXPECT_EQ(chainOf(fat, file, "FAR.KRV").chain, (std::vector<std::uint16_t>{20, 21}));
    EXPECT_EQ(chainOf(fat, file, "FAR.KRV").end, fat::ChainEnd::outOfRange);
    EXPECT_EQ(chainOf(fat, file, "BAD.KRV").chain, (std::vector<std::uint16_t>{30, 31}));
    EXPECT_EQ(chainOf(fat, file, "FREE.KRV").chain, (std::vector<std::uint16_t>{40, 41}));
    EXPECT_EQ(chainOf(fat, file, "FREE.KRV").end, fat::ChainEnd::freeEntry);
    EXPECT_EQ(chainOf(fat, file, "ONE.KRV").chain, (std::vector<std::uint16_t>{50}));
}

TEST(VolumeChain, EveryEndOfChainValueEndsTheChain) {
    TestFatImage fat(TestFatImage::fat16(40000));
    fat.linkChain({60, 61});
    fat.setEntry(61, 0xFFF8);
    fat.addRootFile("TAKE    KRV", 60, 1024);
    MemoryVolumeFile file(fat.image());
    const auto result = chainOf(fat, file);
    EXPECT_EQ(result.chain, (std::vector<std::uint16_t>{60, 61}));
    EXPECT_EQ(result.end, fat::ChainEnd::endMark);
}

TEST(VolumeChain, EachFatSectorIsReadOnceAndTheDeviceIsClosed) {
    TestFatImage fat(TestFatImage::fat16(40000));
    // 2000 clusters, going back and forth between two parts of the FAT.
    std::vector<std::uint32_t> clusters;
    for (std::uint32_t i = 0; i < 1000; ++i) {
        clusters.push_back(2 + i);
        clusters.push_back(2000 + i);
    }
    fat.linkChain(clusters);
    fat.addRootFile("TAKE    KRV", 2, 2000 * 2048);
    MemoryVolumeFile file(fat.image());
    CVolume volume(hostPlatform(), 0, &file, nullptr);
    std::vector<std::uint16_t> chain;
    ASSERT_TRUE(volume.open());
    const auto first = volume.firstCluster("TAKE.KRV");
    ASSERT_TRUE(first);
    const int readsBefore = file.reads;
    CClusterChainIterator walk(volume);
    walk.start(*first);
    while (!walk.atEnd()) {
        chain.push_back(static_cast<std::uint16_t>(walk.current()));
        walk.advance();
    }
    EXPECT_EQ(chain, cut(clusters));
    // Entries 2..1001 lie in FAT sectors 0..3, entries 2000..2999 in sectors 7..11.
    EXPECT_EQ(file.reads - readsBefore, 4 + 5);
    volume.close();
    EXPECT_EQ(file.opens, file.closes);
}

TEST(VolumeChain, DeviceIsClosedOnEveryWayOut) {
    TestFatImage fat(TestFatImage::fat16(40000));
    fat.linkChain({10});
    fat.addRootFile("TAKE    KRV", 10, 100);
    MemoryVolumeFile file(fat.image());
    std::vector<std::uint16_t> chain;
    {
        CVolume volume(hostPlatform(), 0, &file, nullptr);
        EXPECT_TRUE(clusterChain(volume, "TAKE.KRV", chain));
        EXPECT_FALSE(clusterChain(volume, "NONE.KRV", chain));
    }
    fat.setBootField16(fat::boot::kBytesPerSector, 0);
    {
        CVolume volume(hostPlatform(), 0, &file, nullptr);
        EXPECT_FALSE(clusterChain(volume, "TAKE.KRV", chain));
    }
    EXPECT_EQ(file.opens, 3);
    EXPECT_EQ(file.closes, 3);
}

}  // namespace
}  // namespace korvo
