// Boot sector checks, FAT entry arithmetic and FAT name rules.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "volume/fat/FatLayout.h"
#include "volume/fat/FatNames.h"
#include "volume/fat/FatTable.h"

namespace korvo::fat {
namespace {

// A FAT16 boot sector: 512-byte sectors, 4 per cluster, 1 reserved, 2 FATs of 32 sectors,
// 512 root entries, 40000 sectors.
std::vector<std::uint8_t> fat16BootSector() {
    std::vector<std::uint8_t> s(512, 0);
    s[0] = 0xEB;
    s[1] = 0x3C;
    s[2] = 0x90;
    writeLittleEndian16(&s[boot::kBytesPerSector], 512);
    s[boot::kSectorsPerCluster] = 4;
    writeLittleEndian16(&s[boot::kReservedSectors], 1);
    s[boot::kFatCount] = 2;
    writeLittleEndian16(&s[boot::kRootEntries], 512);
    writeLittleEndian16(&s[boot::kTotalSectors16], 40000);
    writeLittleEndian16(&s[boot::kSectorsPerFat16], 40);
    std::memcpy(&s[boot::kFsType16], "FAT16   ", 8);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

TEST(FatBootSector, SoundSectorGivesTheVolumeGeometry) {
    const auto s = fat16BootSector();
    const auto g = parseBootSector(s.data(), s.size(), 40000ull * 512);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->type, FatType::fat16);
    EXPECT_EQ(g->declaredType, "FAT16");
    EXPECT_EQ(g->rootDirSectors, 32u);
    EXPECT_EQ(g->firstDataSector, 1u + 80u + 32u);
    EXPECT_EQ(g->clusterCount, (40000u - 113u) / 4u);
    EXPECT_EQ(g->clusterLimit, g->clusterCount + 2);
    EXPECT_EQ(g->clusterOffset(2), 113ull * 512);
    EXPECT_EQ(g->fatOffset(1), 41ull * 512);
}

TEST(FatBootSector, AbsurdFieldsAreRefusedNeverDividedBy) {
    struct Case {
        const char* what;
        std::size_t offset;
        int width;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"0 bytes per sector", boot::kBytesPerSector, 2, 0},
        {"bytes per sector not a power of two", boot::kBytesPerSector, 2, 768},
        {"bytes per sector too large", boot::kBytesPerSector, 2, 8192},
        {"0 sectors per cluster", boot::kSectorsPerCluster, 1, 0},
        {"sectors per cluster not a power of two", boot::kSectorsPerCluster, 1, 3},
        {"no reserved sector", boot::kReservedSectors, 2, 0},
        {"no FAT", boot::kFatCount, 1, 0},
        {"FAT too small for the clusters", boot::kSectorsPerFat16, 2, 2},
        {"FATs and root beyond the volume", boot::kSectorsPerFat16, 2, 30000},
        {"no total sectors", boot::kTotalSectors16, 2, 0},
    };
    for (const Case& c : cases) {
        auto s = fat16BootSector();
        if (c.width == 1) s[c.offset] = static_cast<std::uint8_t>(c.value);
        else writeLittleEndian16(&s[c.offset], static_cast<std::uint16_t>(c.value));
        EXPECT_FALSE(parseBootSector(s.data(), s.size(), 0)) << c.what;
    }
    const std::vector<std::uint8_t> zeros(512, 0);
    EXPECT_FALSE(parseBootSector(zeros.data(), zeros.size(), 0)) << "zeroed sector";
    const auto s = fat16BootSector();
    EXPECT_FALSE(parseBootSector(s.data(), 100, 0)) << "short buffer";
    EXPECT_FALSE(parseBootSector(s.data(), s.size(), 39999ull * 512)) << "volume larger than the image";
}

TEST(FatBootSector, Fat32RootClusterMustLieInsideTheVolume) {
    std::vector<std::uint8_t> s(512, 0);
    writeLittleEndian16(&s[boot::kBytesPerSector], 512);
    s[boot::kSectorsPerCluster] = 1;
    writeLittleEndian16(&s[boot::kReservedSectors], 32);
    s[boot::kFatCount] = 2;
    writeLittleEndian32(&s[boot::kTotalSectors32], 70000);
    writeLittleEndian32(&s[boot::kSectorsPerFat32], 540);
    writeLittleEndian32(&s[boot::kRootCluster32], 2);
    const auto g = parseBootSector(s.data(), s.size(), 0);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->type, FatType::fat32);
    writeLittleEndian32(&s[boot::kRootCluster32], 0x0FFFFFF0);
    EXPECT_FALSE(parseBootSector(s.data(), s.size(), 0));
    writeLittleEndian32(&s[boot::kRootCluster32], 1);
    EXPECT_FALSE(parseBootSector(s.data(), s.size(), 0));
}

// A volume of zeros that only counts what is read from it.
class CountingZeros final : public IBlockSource {
public:
    explicit CountingZeros(std::uint64_t size) : size_(size) {}
    bool readAt(std::uint64_t offset, void* out, std::size_t n) override {
        if (offset > size_ || n > size_ - offset) return false;
        std::memset(out, 0, n);
        bytesRead += n;
        return true;
    }
    std::uint64_t size() const override { return size_; }
    std::uint64_t bytesRead = 0;

private:
    std::uint64_t size_;
};

TEST(FatTableLoad, ADeclaredFatFarLargerThanTheClustersNeedIsNotReadWhole) {
    // 70000 clusters need 274 KiB of FAT; the boot sector declares two FATs of 2 GiB each.
    std::vector<std::uint8_t> s(512, 0);
    writeLittleEndian16(&s[boot::kBytesPerSector], 512);
    s[boot::kSectorsPerCluster] = 1;
    writeLittleEndian16(&s[boot::kReservedSectors], 32);
    s[boot::kFatCount] = 2;
    const std::uint32_t fatSectors = 4u << 20;
    writeLittleEndian32(&s[boot::kTotalSectors32], 32 + 2 * fatSectors + 70000);
    writeLittleEndian32(&s[boot::kSectorsPerFat32], fatSectors);
    writeLittleEndian32(&s[boot::kRootCluster32], 2);
    CountingZeros volume(std::uint64_t{32 + 2 * fatSectors + 70000} * 512);
    const auto g = parseBootSector(s.data(), s.size(), volume.size());
    ASSERT_TRUE(g);
    ASSERT_EQ(g->clusterCount, 70000u);

    FatTable table;
    ASSERT_TRUE(table.load(volume, *g));
    EXPECT_EQ(table.byteCount(), (70002u * 4 + 511) / 512 * 512);
    EXPECT_EQ(volume.bytesRead, table.byteCount());
    EXPECT_EQ(table.freeCount(), 70000u);
    EXPECT_TRUE(table.isFree(70001));
    EXPECT_FALSE(table.isFree(70002)) << "past the last cluster";
}

TEST(FatEntries, Fat12OddClustersTakeTheHighTwelveBitsAndWritesKeepNeighbours) {
    std::vector<std::uint8_t> fat(12, 0);
    ASSERT_TRUE(writeFatEntry(fat.data(), fat.size(), FatType::fat12, 2, 0xABC));
    ASSERT_TRUE(writeFatEntry(fat.data(), fat.size(), FatType::fat12, 3, 0x123));
    ASSERT_TRUE(writeFatEntry(fat.data(), fat.size(), FatType::fat12, 4, 0xFFF));
    EXPECT_EQ(fat[3], 0xBC);
    EXPECT_EQ(fat[4], 0x3A);
    EXPECT_EQ(fat[5], 0x12);
    EXPECT_EQ(readFatEntry(fat.data(), fat.size(), FatType::fat12, 2), 0xABCu);
    EXPECT_EQ(readFatEntry(fat.data(), fat.size(), FatType::fat12, 3), 0x123u);
    EXPECT_EQ(readFatEntry(fat.data(), fat.size(), FatType::fat12, 4), 0xFFFu);
    // Cluster 7 takes bytes 10 and 11, the last two of this FAT; cluster 8 lies beyond it.
    EXPECT_TRUE(readFatEntry(fat.data(), fat.size(), FatType::fat12, 7));
    EXPECT_FALSE(readFatEntry(fat.data(), fat.size(), FatType::fat12, 8));
    EXPECT_FALSE(writeFatEntry(fat.data(), fat.size(), FatType::fat12, 8, 1));
}

TEST(FatEntries, Fat12EntryStraddlingASectorIsAssembledFromBothBytes) {
    // Cluster 341 of FAT12 starts at byte 511: its low byte ends one sector, its high byte
    // opens the next.
    EXPECT_EQ(fatEntryByteOffset(FatType::fat12, 341), 511u);
    std::vector<std::uint8_t> fat(1024, 0);
    ASSERT_TRUE(writeFatEntry(fat.data(), fat.size(), FatType::fat12, 341, 0x9A5));
    const std::uint32_t raw = fat[511] | (fat[512] << 8);
    EXPECT_EQ(fatEntryFromRaw(FatType::fat12, 341, raw), 0x9A5u);
}

TEST(FatEntries, Fat32KeepsTheTopFourBitsAndMasksThemOnRead) {
    std::vector<std::uint8_t> fat(16, 0);
    writeLittleEndian32(&fat[8], 0xF0000000);
    ASSERT_TRUE(writeFatEntry(fat.data(), fat.size(), FatType::fat32, 2, 0x0FFFFFFF));
    EXPECT_EQ(readLittleEndian32(&fat[8]), 0xFFFFFFFFu);
    EXPECT_EQ(readFatEntry(fat.data(), fat.size(), FatType::fat32, 2), 0x0FFFFFFFu);
    EXPECT_TRUE(isEndOfChain(FatType::fat32, 0x0FFFFFF8));
    EXPECT_FALSE(isEndOfChain(FatType::fat16, 0xFFF7));
}

TEST(FatNames, RecorderNamesArePlainEightThreeAndTemporaryNamesAreNot) {
    for (const char* name : {"TAKE0002.KRV", "EVENTLS0.KRV", "SONG.QMT", "SONGLIST.KRV", "take01a3.krv", "A"}) {
        EXPECT_TRUE(plainShortName(name)) << name;
    }
    for (const char* name : {"TAKEXXXX.KRV.TMP05", "LONGERNAME.KRV", "A.WAVE", ".KRV", "A B.KRV", "X."}) {
        EXPECT_FALSE(plainShortName(name)) << name;
    }
    const auto slot = plainShortName("take01a3.krv");
    EXPECT_EQ(std::string(slot->begin(), slot->end()), "TAKE01A3KRV");
}

TEST(FatNames, GeneratedShortNamesCountUpPastTakenOnes) {
    std::set<std::string> taken;
    auto isTaken = [&](const ShortName& n) { return taken.count(std::string(n.begin(), n.end())) > 0; };
    auto first = generateShortName("TAKEXXXX.KRV.TMP05", isTaken);
    ASSERT_TRUE(first);
    EXPECT_EQ(std::string(first->begin(), first->end()), "TAKEXX~1TMP");
    for (int i = 1; i <= 9; ++i) taken.insert("TAKEXX~" + std::to_string(i) + "TMP");
    auto tenth = generateShortName("TAKEXXXX.KRV.TMP05", isTaken);
    EXPECT_EQ(std::string(tenth->begin(), tenth->end()), "TAKEX~10TMP");
    auto odd = generateShortName("my song+mix.wav", isTaken);
    EXPECT_EQ(std::string(odd->begin(), odd->end()), "MYSONG~1WAV");
}

TEST(FatNames, LongNameSlotsCarryTheNameAndChecksumInReverseOrder) {
    const ShortName shortName = *plainShortName("TAKEXX~1.TMP");
    const auto slots = makeLongNameSlots("TAKEXXXX.KRV.TMP05", shortName);
    ASSERT_TRUE(slots);
    ASSERT_EQ(slots->size(), 2u);
    EXPECT_EQ((*slots)[0].order, 0x42);
    EXPECT_EQ((*slots)[1].order, 0x01);
    EXPECT_EQ((*slots)[0].checksum, longNameChecksum(shortName.data()));
    EXPECT_EQ((*slots)[1].name1[0], 'T');
    // 18 characters: the second slot holds 5, a terminator, then padding.
    EXPECT_EQ(readLittleEndian16((*slots)[0].name2 + 0), 0x0000);
    EXPECT_EQ(readLittleEndian16((*slots)[0].name2 + 2), 0xFFFF);
    EXPECT_FALSE(makeLongNameSlots(std::string(256, 'a'), shortName));
    EXPECT_FALSE(makeLongNameSlots("bad\xC3", shortName)) << "cut UTF-8 sequence";
    EXPECT_FALSE(isStorableName("a/b"));
    EXPECT_FALSE(isStorableName("name."));
    EXPECT_TRUE(isStorableName("TAKEXXXX.KRV.TMP05"));
}

}  // namespace
}  // namespace korvo::fat
