// Opening and identifying a volume: the access path from the platform, and boot data that is
// refused instead of being divided by or read past.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/Unprivileged.h"
#include "tests/volume/VolumeTestImages.h"
#include "volume/ClusterChain.h"
#include "volume/HostVolume.h"
#include "volume/Volume.h"

namespace korvo {
namespace {

using test::MemoryVolumeFile;
using test::TestFatImage;

TEST(VolumeIdentify, AccessPathFollowsThePlatform) {
    TestFatImage fat(TestFatImage::fat16(40000));
    MemoryVolumeFile file(fat.image());
    {
        CVolume volume(PlatformDescription{true, PlatformFamily::modern, 1000}, 0, &file, nullptr);
        EXPECT_EQ(volume.accessPath(), AccessPath::unsupported);
        EXPECT_EQ(volume.fatBits(), kFatBitsUnknown);
        ASSERT_TRUE(volume.open());
        EXPECT_EQ(volume.accessPath(), AccessPath::volumeFile);
        EXPECT_EQ(volume.lockState(), 0);
    }
    for (auto platform : {PlatformDescription{false, PlatformFamily::modern, 2600},
                          PlatformDescription{true, PlatformFamily::unknown, 2600}}) {
        CVolume volume(platform, 0, &file, nullptr);
        EXPECT_FALSE(volume.open());
        EXPECT_EQ(volume.accessPath(), AccessPath::unsupported);
    }
}

TEST(VolumeIdentify, GeometryComesFromTheBootSector) {
    TestFatImage fat(TestFatImage::fat16(40000, 8));
    MemoryVolumeFile file(fat.image());
    CVolume volume(hostPlatform(), 0, &file, nullptr);
    ASSERT_TRUE(volume.open());
    EXPECT_EQ(volume.fatBits(), 16);
    EXPECT_EQ(volume.geometry().bytesPerSector, 512u);
    EXPECT_EQ(volume.geometry().sectorsPerCluster, 8u);
    EXPECT_EQ(volume.geometry().reservedSectors, 1u);
    EXPECT_EQ(volume.geometry().firstDataSector, fat.firstDataSector());
    EXPECT_EQ(volume.geometry().clusterLimit, fat.clusterCount() + 2);
}

TEST(VolumeIdentify, BootSectorsThatCannotDescribeTheVolumeAreRefused) {
    struct Case {
        const char* what;
        void (*spoil)(TestFatImage&);
        const char* reason;
    };
    const Case cases[] = {
        {"0 bytes per sector",
         [](TestFatImage& f) { f.setBootField16(fat::boot::kBytesPerSector, 0); }, "0 bytes per sector"},
        {"0 sectors per cluster",
         [](TestFatImage& f) { f.setBootByte(fat::boot::kSectorsPerCluster, 0); }, "0 sectors per cluster"},
        {"more sectors than the image",
         [](TestFatImage& f) { f.image().resize(f.image().size() / 2); }, "do not fit"},
        {"FATs beyond the volume",
         [](TestFatImage& f) { f.setBootField16(fat::boot::kSectorsPerFat16, 60000); }, "do not fit"},
        {"no FAT",
         [](TestFatImage& f) { f.setBootByte(fat::boot::kFatCount, 0); }, "do not fit"},
        {"odd bytes per sector",
         [](TestFatImage& f) { f.setBootField16(fat::boot::kBytesPerSector, 513); }, ""},
        {"no type text",
         [](TestFatImage& f) { f.image().write(fat::boot::kFsType16, "        ", 8); }, "type text"},
    };
    for (const auto& c : cases) {
        TestFatImage fat(TestFatImage::fat16(40000));
        fat.linkChain({7});
        fat.addRootFile("TAKE    KRV", 7, 100);
        c.spoil(fat);
        MemoryVolumeFile file(fat.image());
        CVolume volume(hostPlatform(), 0, &file, nullptr);
        EXPECT_FALSE(volume.open()) << c.what;
        EXPECT_NE(volume.reason().find(c.reason), std::string::npos) << c.what << ": " << volume.reason();
        EXPECT_FALSE(volume.firstCluster("TAKE.KRV")) << c.what;
        std::uint8_t sector[512];
        EXPECT_FALSE(volume.readSector(0, sector)) << c.what;
        EXPECT_EQ(file.opens, file.closes) << c.what;
    }
}

TEST(VolumeIdentify, FatIsReadWithTheWidthItsLayoutImplies) {
    // A small volume whose type text claims 16-bit entries: its FAT holds 12-bit entries, as
    // every host driver writes them.
    auto geometry = TestFatImage::fat12(4000);
    geometry.typeText = "FAT16   ";
    TestFatImage fat(geometry);
    fat.linkChain({3, 4, 5});
    fat.addRootFile("TAKE    KRV", 3, 1536);
    MemoryVolumeFile file(fat.image());
    CVolume volume(hostPlatform(), 0, &file, nullptr);
    std::vector<std::uint16_t> chain;
    ASSERT_TRUE(clusterChain(volume, "TAKE.KRV", chain));
    EXPECT_EQ(chain, (std::vector<std::uint16_t>{3, 4, 5}));
    EXPECT_EQ(volume.fatBits(), 12);
}

class VolumeDeviceFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("korvo-volume-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string path(const char* name) const { return (folder_ / name).string(); }
    std::filesystem::path folder_;
};

TEST_F(VolumeDeviceFile, ReasonsNameTheDeviceAndWhatIsWrong) {
    std::string reason;
    EXPECT_FALSE(checkVolumeDevice(path("missing.img"), 0, reason));
    EXPECT_EQ(reason, "cannot read " + path("missing.img") + ": No such file or directory");

    EXPECT_FALSE(checkVolumeDevice(folder_.string(), 0, reason));
    EXPECT_NE(reason.find(folder_.string()), std::string::npos);

    TestFatImage fat(TestFatImage::fat16(40000));
    fat.setBootByte(fat::boot::kSectorsPerCluster, 0);
    ASSERT_TRUE(fat.image().saveTo(path("bad.img")));
    EXPECT_FALSE(checkVolumeDevice(path("bad.img"), 0, reason));
    EXPECT_EQ(reason, path("bad.img") + ": not a FAT volume: 0 sectors per cluster");

    std::vector<std::uint16_t> chain{1, 2};
    EXPECT_FALSE(clusterChainOnDevice(path("bad.img"), 0, "TAKE.KRV", chain, &reason));
    EXPECT_TRUE(chain.empty());
    EXPECT_NE(reason.find(path("bad.img")), std::string::npos);
    EXPECT_FALSE(clusterChainOnDevice(path("bad.img"), 0, "TAKE.KRV", chain, nullptr));
}

TEST_F(VolumeDeviceFile, UnreadableDeviceIsReportedAsPermissionDenied) {
    if (!test::Unprivileged().effective())
        GTEST_SKIP() << "cannot drop root privileges to make file permissions apply";
    TestFatImage fat(TestFatImage::fat16(40000));
    ASSERT_TRUE(fat.image().saveTo(path("locked.img")));
    std::filesystem::permissions(path("locked.img"), std::filesystem::perms::none);
    test::Unprivileged scope;
    std::string reason;
    EXPECT_FALSE(checkVolumeDevice(path("locked.img"), 0, reason));
    EXPECT_EQ(reason, "cannot read " + path("locked.img") + ": Permission denied");
}

TEST_F(VolumeDeviceFile, ChainOfAFileWithoutClustersIsNoChain) {
    TestFatImage fat(TestFatImage::fat16(40000));
    fat.addRootFile("EMPTY   KRV", 0, 0, 0);
    fat.linkChain({9, 10});
    fat.addRootFile("TAKE0009KRV", 9, 4096, 1);
    ASSERT_TRUE(fat.image().saveTo(path("disk.img")));

    std::string reason;
    EXPECT_TRUE(checkVolumeDevice(path("disk.img"), 0, reason));
    EXPECT_TRUE(reason.empty());
    std::vector<std::uint16_t> chain;
    EXPECT_FALSE(clusterChainOnDevice(path("disk.img"), 0, "EMPTY.KRV", chain, &reason));
    EXPECT_NE(reason.find("EMPTY.KRV"), std::string::npos);
    EXPECT_TRUE(clusterChainOnDevice(path("disk.img"), 0, "take0009.krv", chain, &reason));
    EXPECT_EQ(chain, (std::vector<std::uint16_t>{9, 10}));
}

// A root folder with no end marker whose cluster chain leads back to itself: the lookup ends
// instead of walking the loop, and a damaged folder gives no chain, not one of a guessed file.
TEST_F(VolumeDeviceFile, LookupInAFolderWhoseChainLoopsEndsWithoutAChain) {
    TestFatImage fat(TestFatImage::fat32(70000, 1));
    const std::uint32_t slots = 512 / 32;
    for (std::uint32_t slot = 0; slot < slots; ++slot) {
        char name[12];
        std::snprintf(name, sizeof name, "TAKE%04XKRV", 100 + slot);
        fat.linkChain({100 + slot});
        fat.addRootFile(name, 100 + slot, 512, slot);
    }
    std::vector<std::uint16_t> chain;
    std::string reason;
    ASSERT_TRUE(fat.image().saveTo(path("loop.img")));
    EXPECT_TRUE(clusterChainOnDevice(path("loop.img"), 0, "TAKE0073.KRV", chain, &reason)) << reason;
    EXPECT_EQ(chain, (std::vector<std::uint16_t>{0x73}));

    fat.setEntry(2, 2);
    ASSERT_TRUE(fat.image().saveTo(path("loop.img")));
    EXPECT_FALSE(clusterChainOnDevice(path("loop.img"), 0, "TAKE0073.KRV", chain, &reason));
    EXPECT_TRUE(chain.empty());
    EXPECT_FALSE(clusterChainOnDevice(path("loop.img"), 0, "TAKE0200.KRV", chain, &reason));
    EXPECT_FALSE(clusterChainOnDevice(path("loop.img"), 0, "TAKE0064.KRV/X.KRV", chain, &reason));
}

}  // namespace
}  // namespace korvo
