// The read-only walk on images made and filled by mkfs.fat and mcopy, whole-disk images with a
// partition table, and damaged images that must be refused without a hang or a write.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>

#include "tests/support/DiskFixture.h"
#include "tests/support/FatImages.h"
#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo {
namespace {

using fat::FatType;
namespace fs = std::filesystem;

struct Volume {
    std::unique_ptr<fat::IBlockTarget> device;
    fat::FatGeometry geometry;
};

Volume openVolume(const std::string& image) {
    Volume v;
    v.device = test::openImageDevice(image);
    std::uint8_t sector[512];
    if (v.device && v.device->readAt(0, sector, 512)) {
        if (auto g = fat::parseBootSector(sector, 512, v.device->size())) v.geometry = *g;
    }
    return v;
}

void writeHost(const fs::path& path, std::size_t bytes, std::uint8_t seed) {
    fs::create_directories(path.parent_path());
    std::vector<std::uint8_t> data(bytes);
    for (std::size_t i = 0; i < bytes; ++i) data[i] = static_cast<std::uint8_t>(i * seed + (i >> 9));
    ASSERT_TRUE(test::writeHostFile(path.string(), data));
}

struct WalkCase {
    FatType type;
    std::uint32_t clusterBytes;
};

class FatWalkOracle : public testing::TestWithParam<WalkCase> {};

TEST_P(FatWalkOracle, WalkFindsEveryFileMcopyWroteWithItsSizeAndChain) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    test::TemporaryFolder folder;
    const fs::path tree = fs::path(folder.path()) / "tree";
    const std::uint32_t cluster = GetParam().clusterBytes;
    std::map<std::string, std::size_t> files = {
        {"SYSTEM.KRV", 16},
        {"SONGLIST.KRV", 1000},
        {"SONG0000.KRV/EVENTLS0.KRV", 3100},
        {"SONG0000.KRV/TAKE0002.KRV", 2 * cluster + 7},
        {"SONG0000.KRV/TAKEXXXX.KRV.TMP05", 10},
        {"Mixed Case Folder/Deep/Deeper/A rather long file name.wav", cluster + 1},
        {"Mixed Case Folder/empty.txt", 0},
    };
    std::uint8_t seed = 1;
    for (const auto& [path, size] : files) writeHost(tree / path, size, seed++);
    const std::string image = folder.path() + "/disk.img";
    ASSERT_TRUE(test::imageFromFolder(tree.string(), image, GetParam().type, cluster,
                                      test::smallVolumeBytes(GetParam().type, cluster)));

    Volume v = openVolume(image);
    ASSERT_GT(v.geometry.clusterCount, 0u);
    EXPECT_EQ(v.geometry.type, GetParam().type);
    EXPECT_EQ(v.geometry.clusterBytes(), cluster);
    fat::FatVolumeReader reader(*v.device, v.geometry);

    std::map<std::string, std::size_t> walked;
    ASSERT_TRUE(reader.walkTree([&](const std::string& path, const fat::DirectoryItem& item) {
        if (!item.isDirectory()) walked[path] = item.size;
    }));
    EXPECT_EQ(walked, files);

    for (const auto& [path, size] : files) {
        std::string lower = path;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const auto found = reader.lookup(lower);
        ASSERT_EQ(found.outcome, fat::Lookup::found) << path;
        EXPECT_EQ(found.item.size, size) << path;
        const auto chain = reader.chain(found.item.firstCluster);
        EXPECT_TRUE(chain.sound()) << path;
        if (size > 0) {
            EXPECT_EQ(chain.clusters, test::mshowfat(image, path)) << path;
        }
    }
    EXPECT_EQ(reader.lookup("SONG0000.KRV/TAKEXX~1.TMP").outcome, fat::Lookup::found)
        << "the generated 8.3 name finds the file too";
    EXPECT_EQ(reader.lookup("SONG0000.KRV/NOPE").outcome, fat::Lookup::missing);
    EXPECT_EQ(reader.lookup("SYSTEM.KRV/INSIDE").outcome, fat::Lookup::missing);
}

INSTANTIATE_TEST_SUITE_P(Images, FatWalkOracle,
                         testing::Values(WalkCase{FatType::fat12, 32768}, WalkCase{FatType::fat16, 32768},
                                         WalkCase{FatType::fat16, 65536}, WalkCase{FatType::fat32, 32768},
                                         WalkCase{FatType::fat32, 65536}),
                         [](const testing::TestParamInfo<WalkCase>& info) {
                             const char* t = info.param.type == FatType::fat12   ? "Fat12"
                                             : info.param.type == FatType::fat16 ? "Fat16"
                                                                                 : "Fat32";
                             return std::string(t) + "Cluster" + std::to_string(info.param.clusterBytes);
                         });

// A whole disk: an MBR whose second entry holds a FAT16 volume at sector 2048.
TEST(FatPartitions, WholeDiskImageReachesItsFatPartition) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    test::TemporaryFolder folder;
    const std::string part = folder.path() + "/part.img";
    const std::string disk = folder.path() + "/disk.img";
    const std::uint64_t partBytes = test::smallVolumeBytes(FatType::fat16, 2048);
    ASSERT_TRUE(test::mkfsFat(part, FatType::fat16, 2048, partBytes));
    ASSERT_TRUE(test::mcopyBytesIn(part, {1, 2, 3}, "SYSTEM.KRV"));

    std::vector<std::uint8_t> mbr(2048 * 512, 0);
    fat::PartitionEntry entry{};
    entry.type = 0x83;  // a non-FAT partition first
    writeLittleEndian32(entry.firstSector, 1);
    writeLittleEndian32(entry.sectorCount, 100);
    std::memcpy(&mbr[fat::kPartitionTableOffset], &entry, sizeof entry);
    entry.type = 0x06;
    writeLittleEndian32(entry.firstSector, 2048);
    writeLittleEndian32(entry.sectorCount, static_cast<std::uint32_t>(partBytes / 512));
    std::memcpy(&mbr[fat::kPartitionTableOffset + 16], &entry, sizeof entry);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    auto partition = test::readHostFile(part);
    mbr.insert(mbr.end(), partition.begin(), partition.end());
    ASSERT_TRUE(test::writeHostFile(disk, mbr));

    for (int k : {0, 2}) {
        auto files = openImageDiskFiles(disk, k);
        EXPECT_EQ(files->exists("system.krv"), FileExistence::present) << "partition " << k;
    }
    EXPECT_EQ(openImageDiskFiles(disk, 1)->exists("SYSTEM.KRV"), FileExistence::missing);
    EXPECT_EQ(openImageDiskFiles(disk, 3)->exists("SYSTEM.KRV"), FileExistence::missing);

    {
        auto files = openImageDiskFiles(disk, 0);
        auto stream = files->open("SONGLIST.KRV", OpenMode::write);
        ASSERT_TRUE(stream);
        const std::uint8_t bytes[5] = {9, 8, 7, 6, 5};
        ASSERT_TRUE(stream->write(bytes, 5) && stream->close());
    }
    const auto after = test::readHostFile(disk);
    ASSERT_TRUE(std::equal(after.begin(), after.begin() + 2048 * 512, mbr.begin())) << "MBR untouched";
    test::writeHostFile(part, std::vector<std::uint8_t>(after.begin() + 2048 * 512, after.end()));
    EXPECT_TRUE(test::fsckFat(part).clean()) << test::fsckFat(part).output;
    EXPECT_EQ(test::mcopyOut(part, "SONGLIST.KRV"), (std::vector<std::uint8_t>{9, 8, 7, 6, 5}));
}

// Damaged images, made from a sound FAT16 image with a few bytes changed.
class FatDamagedImage : public testing::Test {
protected:
    void SetUp() override {
        KORVO_SKIP_WITHOUT_FAT_TOOLS();
        image_ = folder_.path() + "/disk.img";
        ASSERT_TRUE(test::mkfsFat(image_, FatType::fat16, 2048, test::smallVolumeBytes(FatType::fat16, 2048)));
        ASSERT_TRUE(test::mcopyBytesIn(image_, {1}, "SYSTEM.KRV"));
        ASSERT_TRUE(test::mcopyBytesIn(image_, {2}, "SONGLIST.KRV"));
        ASSERT_TRUE(test::mcopyBytesIn(image_, std::vector<std::uint8_t>(5000, 3), "CYCLE.KRV"));
        ASSERT_TRUE(test::mmd(image_, "LOOP"));
        ASSERT_TRUE(test::mmd(image_, "LOOP/BACK"));
        Volume v = openVolume(image_);
        geometry_ = v.geometry;
        fat::FatVolumeReader reader(*v.device, geometry_);
        cycle_ = reader.lookup("CYCLE.KRV").item;
        loop_ = reader.lookup("LOOP").item;
    }
    void patch(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
        auto device = test::openImageDevice(image_);
        ASSERT_TRUE(device && device->writeAt(offset, bytes.data(), bytes.size()));
    }
    void setFatEntry(std::uint32_t cluster, std::uint16_t value) {
        for (std::uint32_t copy = 0; copy < geometry_.fatCount; ++copy)
            patch(geometry_.fatOffset(copy) + 2 * cluster, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
    }
    std::uint64_t rootSlotOffset(const fat::DirectoryItem& item) const {
        return geometry_.rootDirOffset() + std::uint64_t{item.slot} * 32;
    }

    test::TemporaryFolder folder_;
    std::string image_;
    fat::FatGeometry geometry_;
    fat::DirectoryItem cycle_;
    fat::DirectoryItem loop_;
};

TEST_F(FatDamagedImage, CyclicChainEndsAndItsFileIsRefusedWithoutAWrite) {
    const std::uint32_t first = cycle_.firstCluster;
    setFatEntry(first + 2, static_cast<std::uint16_t>(first));  // the last cluster points to the first
    const auto before = test::readHostFile(image_);
    {
        auto disk = openImageDiskFiles(image_, 0);
        std::vector<std::uint16_t> chain;
        ASSERT_TRUE(disk->clusterChain("CYCLE.KRV", chain));
        EXPECT_LE(chain.size(), geometry_.clusterCount);
        EXPECT_FALSE(disk->open("CYCLE.KRV", OpenMode::read));
        EXPECT_FALSE(disk->open("CYCLE.KRV", OpenMode::update));
        EXPECT_FALSE(disk->open("CYCLE.KRV", OpenMode::write));
        EXPECT_FALSE(disk->remove("CYCLE.KRV"));
        EXPECT_EQ(disk->exists("SYSTEM.KRV"), FileExistence::present);
    }
    EXPECT_EQ(test::readHostFile(image_), before);
}

TEST_F(FatDamagedImage, EntryPointingPastTheVolumeHasNoChainAndCannotBeRead) {
    std::vector<std::uint8_t> cluster = {0xF0, 0xFF};  // beyond the volume's clusters
    patch(rootSlotOffset(cycle_) + 26, cluster);
    const auto before = test::readHostFile(image_);
    {
        auto disk = openImageDiskFiles(image_, 0);
        std::vector<std::uint16_t> chain;
        EXPECT_FALSE(disk->clusterChain("CYCLE.KRV", chain));
        EXPECT_FALSE(disk->open("CYCLE.KRV", OpenMode::read));
        EXPECT_FALSE(disk->remove("CYCLE.KRV"));
    }
    EXPECT_EQ(test::readHostFile(image_), before);
}

TEST_F(FatDamagedImage, FolderPointingBackAtItselfDoesNotTrapTheWalk) {
    // LOOP/BACK now names LOOP's own cluster.
    const std::uint64_t backSlot = geometry_.clusterOffset(loop_.firstCluster) + 2 * 32;
    patch(backSlot + 26, {static_cast<std::uint8_t>(loop_.firstCluster), static_cast<std::uint8_t>(loop_.firstCluster >> 8)});
    Volume v = openVolume(image_);
    fat::FatVolumeReader reader(*v.device, v.geometry);
    int visits = 0;
    EXPECT_TRUE(reader.walkTree([&](const std::string&, const fat::DirectoryItem&) { ++visits; }));
    EXPECT_LT(visits, 10);
    EXPECT_EQ(reader.lookup("LOOP/BACK/BACK/BACK/BACK").outcome, fat::Lookup::found);
}

TEST_F(FatDamagedImage, FolderWhoseChainCyclesIsUnreadableSoTheDiskCannotBeRead) {
    setFatEntry(loop_.firstCluster, static_cast<std::uint16_t>(loop_.firstCluster));
    const auto before = test::readHostFile(image_);
    {
        auto disk = openImageDiskFiles(image_, 0);
        EXPECT_EQ(disk->exists("LOOP/BACK"), FileExistence::accessDenied);
        EXPECT_FALSE(disk->open("LOOP/NEW.KRV", OpenMode::write));
    }
    EXPECT_EQ(test::readHostFile(image_), before);
}

TEST_F(FatDamagedImage, ZeroedAbsurdOrTruncatedBootDataIsNotARecorderDisk) {
    const auto sound = test::readHostFile(image_);
    struct Damage {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> apply;
    };
    const Damage damages[] = {
        {"zeroed boot sector", [](auto& b) { std::fill(b.begin(), b.begin() + 512, 0); }},
        {"0 bytes per sector", [](auto& b) { b[11] = b[12] = 0; }},
        {"0 sectors per cluster", [](auto& b) { b[13] = 0; }},
        {"absurd FAT size", [](auto& b) { b[22] = b[23] = 0xFF; }},
        {"image cut in half", [](auto& b) { b.resize(b.size() / 2); }},
        {"image cut inside the boot sector", [](auto& b) { b.resize(300); }},
        {"empty image", [](auto& b) { b.clear(); }},
    };
    for (const Damage& damage : damages) {
        auto bytes = sound;
        damage.apply(bytes);
        ASSERT_TRUE(test::writeHostFile(image_, bytes));
        {
            auto disk = openImageDiskFiles(image_, 0);
            EXPECT_EQ(disk->exists("SYSTEM.KRV"), FileExistence::missing) << damage.what;
            EXPECT_FALSE(disk->open("NEW.KRV", OpenMode::write)) << damage.what;
            std::string reason;
            EXPECT_FALSE(disk->checkVolume(reason)) << damage.what;
        }
        EXPECT_EQ(test::readHostFile(image_), bytes) << damage.what << ": nothing written";
    }
}

}  // namespace
}  // namespace korvo
