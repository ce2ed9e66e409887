// Cluster chains of files on volumes made by mkfs.fat and filled by mcopy, checked against what
// mshowfat prints for the same files: 8.3 and long names, nested folders, fragmented files,
// 32 KiB and 64 KiB clusters, bare volumes and MBR-partitioned disks.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "tests/volume/VolumeTestImages.h"
#include "volume/HostVolume.h"
#include "volume/fat/FatLayout.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;

bool haveTools() {
    return std::system("command -v mkfs.fat >/dev/null 2>&1 && command -v mcopy >/dev/null 2>&1 && "
                       "command -v mshowfat >/dev/null 2>&1 && command -v mdir >/dev/null 2>&1") == 0;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// Runs a shell command; its standard output, or nullopt when it failed.
std::optional<std::string> run(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    return ::pclose(pipe) == 0 ? std::optional<std::string>(out) : std::nullopt;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty()) lines.push_back(line);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return lines;
}

class VolumeOracle : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTools()) GTEST_SKIP() << "mkfs.fat and mtools are not installed (make deps)";
        folder_ = fs::temp_directory_path() /
                  ("korvo-oracle-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
        std::mt19937 random(7);
        for (auto [name, size] : {std::pair{"a.bin", 300000}, {"b.bin", 100000}, {"c.bin", 70000},
                                  {"d.bin", 500000}, {"e.bin", 1}, {"z.bin", 0}}) {
            std::ofstream out(folder_ / name, std::ios::binary);
            for (int i = 0; i < size; ++i) out.put(static_cast<char>(random()));
        }
    }
    void TearDown() override {
        if (!folder_.empty()) fs::remove_all(folder_);
    }

    std::string file(const char* name) const { return quoted((folder_ / name).string()); }

    // Makes mtools look for free clusters from the start of a FAT32 volume again, as it does on
    // FAT12/16, instead of after the last cluster it handed out.
    static void forgetNextFreeHint(const std::string& target) {
        const int fd = ::open(target.c_str(), O_RDWR);
        if (fd < 0) return;  // a partition of a disk: FAT16 there, nothing to forget
        std::uint8_t boot[512];
        if (::pread(fd, boot, sizeof boot, 0) == 512 &&
            readLittleEndian16(boot + fat::boot::kSectorsPerFat16) == 0) {
            const std::uint64_t info = readLittleEndian16(boot + fat::boot::kFsInfoSector32) *
                                       std::uint64_t{readLittleEndian16(boot + fat::boot::kBytesPerSector)};
            std::uint8_t unknown[4];
            writeLittleEndian32(unknown, fat::fsinfo::kUnknown);
            EXPECT_EQ(::pwrite(fd, unknown, 4, static_cast<off_t>(info + fat::fsinfo::kNextFree)), 4);
        }
        ::close(fd);
    }

    // Fills a volume: nested folders, 8.3 and long names, a file written into the hole left by a
    // deleted one so that its chain is in two pieces, a one-byte and an empty file.
    void populate(const std::string& target) {
        const std::string i = " -i " + quoted(target) + " ";
        ASSERT_TRUE(run("mmd" + i + "::/SONG0000.KRV ::/Deep ::/Deep/Er"));
        ASSERT_TRUE(run("mcopy" + i + file("a.bin") + " ::/SONG0000.KRV/TAKE0002.KRV"));
        ASSERT_TRUE(run("mcopy" + i + file("b.bin") + " " + quoted("::/Deep/Er/A long name with spaces.wav")));
        ASSERT_TRUE(run("mcopy" + i + file("c.bin") + " ::/C.BIN"));
        ASSERT_TRUE(run("mdel" + i + "::/SONG0000.KRV/TAKE0002.KRV"));
        forgetNextFreeHint(target);
        ASSERT_TRUE(run("mcopy" + i + file("d.bin") + " ::/SONG0000.KRV/TAKEXXXX.KRV.TMP05"));
        ASSERT_TRUE(run("mcopy" + i + file("e.bin") + " ::/Deep/e.txt"));
        ASSERT_TRUE(run("mcopy" + i + file("a.bin") + " ::/Deep/Er/Second.Long.Name.bin"));
        ASSERT_TRUE(run("mcopy" + i + file("z.bin") + " ::/EMPTY.TXT"));
    }

    // Every file mdir lists has the chain mshowfat prints, looked up as listed and in lower
    // case; the fragmented take really is in pieces.
    void expectChainsMatch(const std::string& target, const std::string& device, int partition) {
        const auto listing = run("mdir -/ -b -i " + quoted(target) + " ::/");
        ASSERT_TRUE(listing);
        int files = 0;
        bool sawFragment = false;
        for (const auto& entry : linesOf(*listing)) {
            if (entry.back() == '/') continue;
            ASSERT_EQ(entry.rfind("::/", 0), 0u) << entry;
            const std::string path = entry.substr(3);
            const auto shown = run("mshowfat -i " + quoted(target) + " " + quoted(entry));
            ASSERT_TRUE(shown) << entry;
            const auto expected = test::parseShowFat(*shown);

            std::vector<std::uint16_t> chain;
            std::string reason;
            std::string lower = path;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            for (const auto& asked : {path, lower}) {
                const bool found = clusterChainOnDevice(device, partition, asked, chain, &reason);
                if (expected.empty()) {
                    EXPECT_FALSE(found) << asked;
                } else {
                    EXPECT_TRUE(found) << asked << ": " << reason;
                    EXPECT_EQ(chain, expected) << asked;
                }
            }
            for (std::size_t k = 1; k < expected.size(); ++k)
                sawFragment = sawFragment || expected[k] != expected[k - 1] + 1;
            ++files;
        }
        EXPECT_EQ(files, 6);
        EXPECT_TRUE(sawFragment);
    }

    fs::path folder_;
};

struct Format {
    const char* name;
    const char* fatBits;
    int sectorsPerCluster;
    long kibibytes;
};

TEST_F(VolumeOracle, ChainsEqualMshowfatOnBareVolumes) {
    const Format formats[] = {
        {"fat12-32k", "12", 64, 16 * 1024},
        {"fat12-64k", "12", 128, 32 * 1024},
        {"fat16-32k", "16", 64, 256 * 1024},
        {"fat16-64k", "16", 128, 512 * 1024},
        {"fat32-32k", "32", 64, 2150L * 1024},
        {"fat32-64k", "32", 128, 4300L * 1024},
    };
    for (const auto& format : formats) {
        SCOPED_TRACE(format.name);
        const std::string image = (folder_ / (std::string(format.name) + ".img")).string();
        ASSERT_TRUE(run("mkfs.fat -C -F " + std::string(format.fatBits) + " -s " +
                        std::to_string(format.sectorsPerCluster) + " " + quoted(image) + " " +
                        std::to_string(format.kibibytes)));
        populate(image);
        std::string reason;
        EXPECT_TRUE(checkVolumeDevice(image, 0, reason)) << reason;
        expectChainsMatch(image, image, 0);
        fs::remove(image);
    }
}

// A whole disk: a Linux partition first, a FAT16 volume in the second.
TEST_F(VolumeOracle, PartitionedDiskFindsTheFirstFatPartitionOrTheOneAskedFor) {
    const std::string disk = (folder_ / "disk.img").string();
    constexpr std::uint32_t kLinuxStart = 2048, kLinuxCount = 2048;
    constexpr std::uint32_t kFatStart = 4096, kFatCount = 256 * 2048;
    {
        const int fd = ::open(disk.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{kFatStart + kFatCount} * 512), 0);
        std::uint8_t mbr[512] = {};
        auto entry = [&](int index, std::uint8_t type, std::uint32_t first, std::uint32_t count) {
            std::uint8_t* p = mbr + fat::kPartitionTableOffset + 16 * index;
            p[4] = type;
            writeLittleEndian32(p + 8, first);
            writeLittleEndian32(p + 12, count);
        };
        entry(0, 0x83, kLinuxStart, kLinuxCount);
        entry(1, 0x06, kFatStart, kFatCount);
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
        ASSERT_EQ(::pwrite(fd, mbr, sizeof mbr, 0), 512);
        ::close(fd);
    }
    ASSERT_TRUE(run("mkfs.fat -F 16 -s 64 --offset " + std::to_string(kFatStart) + " " +
                    quoted(disk) + " " + std::to_string(kFatCount / 2)));
    const std::string target = disk + "@@" + std::to_string(std::uint64_t{kFatStart} * 512);
    populate(target);

    expectChainsMatch(target, disk, 0);
    expectChainsMatch(target, disk, 2);

    std::string reason;
    EXPECT_TRUE(checkVolumeDevice(disk, 2, reason)) << reason;
    EXPECT_FALSE(checkVolumeDevice(disk, 1, reason));
    EXPECT_NE(reason.find("partition 1"), std::string::npos) << reason;
    EXPECT_FALSE(checkVolumeDevice(disk, 3, reason));
    EXPECT_FALSE(checkVolumeDevice(disk, 5, reason));
    EXPECT_NE(reason.find(disk), std::string::npos) << reason;
}

}  // namespace
}  // namespace korvo
