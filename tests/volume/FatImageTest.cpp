// The recorder disk as a FAT image: files created, grown, renamed, cut and deleted by our FAT
// file system must look right to dosfstools and mtools, and files mtools wrote must read back.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "tests/support/DiskFixture.h"
#include "tests/support/FatImages.h"
#include "volume/fat/FatFormat.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo {
namespace {

using fat::FatType;

std::vector<std::uint8_t> pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

bool writeFile(IDiskFiles& disk, const std::string& path, const std::vector<std::uint8_t>& bytes,
               std::size_t piece = 10) {
    auto stream = disk.open(path, OpenMode::write);
    if (!stream) return false;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (!stream->write(bytes.data() + at, std::min(piece, bytes.size() - at))) return false;
    }
    return stream->close();
}

std::optional<std::vector<std::uint8_t>> readFile(IDiskFiles& disk, const std::string& path) {
    auto stream = disk.open(path, OpenMode::read);
    if (!stream) return std::nullopt;
    const auto size = stream->size();
    if (!size) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
    if (!bytes.empty() && !stream->read(bytes.data(), bytes.size())) return std::nullopt;
    return bytes;
}

std::vector<std::uint32_t> widen(const std::vector<std::uint16_t>& chain) {
    return std::vector<std::uint32_t>(chain.begin(), chain.end());
}

// Whether every FAT copy of the image holds the same bytes as the first.
::testing::AssertionResult fatCopiesEqual(const std::string& image) {
    auto device = test::openImageDevice(image);
    std::uint8_t sector[512];
    if (!device || !device->readAt(0, sector, sizeof sector))
        return ::testing::AssertionFailure() << "no boot sector";
    const auto g = fat::parseBootSector(sector, sizeof sector, device->size());
    if (!g) return ::testing::AssertionFailure() << "boot sector refused";
    std::vector<std::uint8_t> first(static_cast<std::size_t>(g->fatBytes()));
    std::vector<std::uint8_t> other(first.size());
    if (!device->readAt(g->fatOffset(0), first.data(), first.size()))
        return ::testing::AssertionFailure() << "first FAT unreadable";
    for (std::uint32_t copy = 1; copy < g->fatCount; ++copy) {
        if (!device->readAt(g->fatOffset(copy), other.data(), other.size()) || other != first)
            return ::testing::AssertionFailure() << "FAT copy " << copy << " differs from the first";
    }
    return ::testing::AssertionSuccess();
}

struct ImageCase {
    FatType type;
    std::uint32_t clusterBytes;
    bool ourFormatter;
};

std::string caseName(const testing::TestParamInfo<ImageCase>& info) {
    const char* type = info.param.type == FatType::fat12 ? "Fat12"
                       : info.param.type == FatType::fat16 ? "Fat16" : "Fat32";
    return std::string(type) + "Cluster" + std::to_string(info.param.clusterBytes) +
           (info.param.ourFormatter ? "OurFormatter" : "Mkfs");
}

class FatImageOracle : public testing::TestWithParam<ImageCase> {
protected:
    void SetUp() override {
        KORVO_SKIP_WITHOUT_FAT_TOOLS();
        image_ = folder_.path() + "/disk.img";
        const ImageCase& c = GetParam();
        const std::uint64_t bytes = test::smallVolumeBytes(c.type, c.clusterBytes);
        if (c.ourFormatter) {
            fat::FormatOptions options;
            options.type = c.type;
            options.clusterBytes = c.clusterBytes;
            ASSERT_TRUE(fat::formatImageFile(image_, bytes, options));
            ASSERT_TRUE(test::fsckFat(image_).clean()) << test::fsckFat(image_).output;
        } else {
            ASSERT_TRUE(test::mkfsFat(image_, c.type, c.clusterBytes, bytes));
        }
    }
    test::TemporaryFolder folder_;
    std::string image_;
};

TEST_P(FatImageOracle, FilesWeCreateGrowRenameCutAndDeleteSatisfyFsckAndMtools) {
    const std::uint32_t cluster = GetParam().clusterBytes;
    ASSERT_TRUE(test::mmd(image_, "SONG0000.KRV"));
    const auto keep = pattern(3 * cluster + 17, 1);
    ASSERT_TRUE(test::mcopyBytesIn(image_, keep, "SONG0000.KRV/TAKE0002.KRV"));

    const auto take = pattern(2 * cluster + 1234, 2);
    const auto events = pattern(5000, 3);
    const auto song = pattern(cluster + 5, 4);
    {
        auto disk = openImageDiskFiles(image_, 0);
        ASSERT_TRUE(writeFile(*disk, "SONG0000.KRV/TAKEXXXX.KRV.TMP05", take));
        ASSERT_TRUE(disk->rename("SONG0000.KRV/TAKEXXXX.KRV.TMP05", "SONG0000.KRV/TAKE0100.KRV"));
        ASSERT_TRUE(writeFile(*disk, "song0000.krv/eventls0.krv", events, 48));
        ASSERT_TRUE(writeFile(*disk, "SONG0000.KRV/SONG.QMT", song));
        // Grow in place, then cut.
        auto update = disk->open("SONG0000.KRV/SONG.QMT", OpenMode::update);
        ASSERT_TRUE(update);
        ASSERT_TRUE(update->seek(song.size()));
        ASSERT_TRUE(update->write(song.data(), song.size()));
        ASSERT_TRUE(update->close());
        update = disk->open("SONG0000.KRV/SONG.QMT", OpenMode::update);
        ASSERT_TRUE(update && update->truncate(song.size() + 3) && update->close());
        ASSERT_TRUE(writeFile(*disk, "SONG0000.KRV/DOOMED.KRV", pattern(cluster * 2, 5)));
        ASSERT_TRUE(disk->remove("SONG0000.KRV/DOOMED.KRV"));

        for (const char* name : {"TAKE0100.KRV", "TAKE0002.KRV", "EVENTLS0.KRV", "SONG.QMT"}) {
            const std::string path = std::string("SONG0000.KRV/") + name;
            std::vector<std::uint16_t> chain;
            ASSERT_TRUE(disk->clusterChain(path, chain)) << path;
            EXPECT_EQ(widen(chain), test::mshowfat(image_, path)) << path;
        }
        EXPECT_EQ(readFile(*disk, "SONG0000.KRV/TAKE0002.KRV"), keep);
    }

    const auto check = test::fsckFat(image_);
    EXPECT_TRUE(check.clean()) << check.output;
    EXPECT_TRUE(fatCopiesEqual(image_));
    const auto listing = test::mdir(image_, "SONG0000.KRV");
    ASSERT_TRUE(listing);
    auto names = listing->shortNames;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"EVENTLS0.KRV", "SONG.QMT", "TAKE0002.KRV", "TAKE0100.KRV"}));
    for (const auto& name : listing->longNames) EXPECT_EQ(name, "") << "stale long name";

    EXPECT_EQ(test::mcopyOut(image_, "SONG0000.KRV/TAKE0100.KRV"), take);
    EXPECT_EQ(test::mcopyOut(image_, "SONG0000.KRV/EVENTLS0.KRV"), events);
    auto grown = song;
    grown.insert(grown.end(), song.begin(), song.begin() + 3);
    EXPECT_EQ(test::mcopyOut(image_, "SONG0000.KRV/SONG.QMT"), grown);
}

TEST_P(FatImageOracle, TemporaryLongNamesGetGeneratedShortNamesThatMtoolsShows) {
    ASSERT_TRUE(test::mmd(image_, "SONG0001.KRV"));
    {
        auto disk = openImageDiskFiles(image_, 0);
        ASSERT_TRUE(writeFile(*disk, "SONG0001.KRV/TAKEXXXX.KRV.TMP05", pattern(100, 6)));
        ASSERT_TRUE(writeFile(*disk, "SONG0001.KRV/TAKEXXXX.KRV.TMP13", pattern(100, 7)));
    }
    EXPECT_TRUE(test::fsckFat(image_).clean()) << test::fsckFat(image_).output;
    const auto listing = test::mdir(image_, "SONG0001.KRV");
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->shortNames, (std::vector<std::string>{"TAKEXX~1.TMP", "TAKEXX~2.TMP"}));
    EXPECT_EQ(listing->longNames,
              (std::vector<std::string>{"TAKEXXXX.KRV.TMP05", "TAKEXXXX.KRV.TMP13"}));
    EXPECT_EQ(test::mcopyOut(image_, "SONG0001.KRV/TAKEXXXX.KRV.TMP13"), pattern(100, 7));
}

TEST_P(FatImageOracle, FilesMtoolsWroteReadBackByteForByte) {
    ASSERT_TRUE(test::mmd(image_, "SONG0002.KRV"));
    ASSERT_TRUE(test::mmd(image_, "SONG0002.KRV/Deeper Folder"));
    const auto a = pattern(GetParam().clusterBytes * 2 + 99, 8);
    const auto b = pattern(1, 9);
    ASSERT_TRUE(test::mcopyBytesIn(image_, a, "SONG0002.KRV/TAKE0ABC.KRV"));
    ASSERT_TRUE(test::mcopyBytesIn(image_, b, "SONG0002.KRV/Deeper Folder/A long name.wav"));
    ASSERT_TRUE(test::mcopyBytesIn(image_, {}, "EMPTY.TXT"));
    auto disk = openImageDiskFiles(image_, 0);
    EXPECT_EQ(readFile(*disk, "song0002.krv/take0abc.krv"), a);
    EXPECT_EQ(readFile(*disk, "SONG0002.KRV/deeper folder/a LONG name.WAV"), b);
    EXPECT_EQ(readFile(*disk, "EMPTY.TXT"), std::vector<std::uint8_t>{});
    EXPECT_EQ(disk->exists("SONG0002.KRV/NOPE.KRV"), FileExistence::missing);
}

INSTANTIATE_TEST_SUITE_P(Images, FatImageOracle,
                         testing::Values(ImageCase{FatType::fat12, 4096, false},
                                         ImageCase{FatType::fat16, 32768, false},
                                         ImageCase{FatType::fat16, 65536, false},
                                         ImageCase{FatType::fat32, 512, false},
                                         ImageCase{FatType::fat12, 2048, true},
                                         ImageCase{FatType::fat16, 32768, true},
                                         ImageCase{FatType::fat16, 65536, true},
                                         ImageCase{FatType::fat32, 1024, true},
                                         ImageCase{FatType::fat32, 32768, true}),
                         caseName);

class FatImageDisk : public testing::Test {
protected:
    void SetUp() override {
        KORVO_SKIP_WITHOUT_FAT_TOOLS();
        image_ = folder_.path() + "/disk.img";
        ASSERT_TRUE(test::mkfsFat(image_, FatType::fat16, 32768, test::smallVolumeBytes(FatType::fat16, 32768)));
    }
    test::TemporaryFolder folder_;
    std::string image_;
};

TEST_F(FatImageDisk, RenameFromLongToEightThreeNameLeavesNoLongNameSlots) {
    ASSERT_TRUE(test::mmd(image_, "SONG0000.KRV"));
    ASSERT_TRUE(test::mcopyBytesIn(image_, pattern(70000, 1), "SONG0000.KRV/TAKEXXXX.KRV.TMP05"));
    {
        auto disk = openImageDiskFiles(image_, 0);
        ASSERT_TRUE(disk->rename("SONG0000.KRV/TAKEXXXX.KRV.TMP05", "SONG0000.KRV/TAKE0004.KRV"));
        EXPECT_EQ(disk->exists("SONG0000.KRV/TAKEXXXX.KRV.TMP05"), FileExistence::missing);
        EXPECT_EQ(disk->exists("SONG0000.KRV/TAKE0004.KRV"), FileExistence::present);
    }
    EXPECT_TRUE(test::fsckFat(image_).clean()) << test::fsckFat(image_).output;
    const auto listing = test::mdir(image_, "SONG0000.KRV");
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->shortNames, std::vector<std::string>{"TAKE0004.KRV"});
    EXPECT_EQ(listing->longNames, std::vector<std::string>{""});
    EXPECT_EQ(test::mcopyOut(image_, "SONG0000.KRV/TAKE0004.KRV"), pattern(70000, 1));
}

TEST_F(FatImageDisk, RenameRefusesAnExistingTargetAndKeepsBothFiles) {
    auto disk = openImageDiskFiles(image_, 0);
    ASSERT_TRUE(writeFile(*disk, "A.KRV", pattern(10, 1)));
    ASSERT_TRUE(writeFile(*disk, "B.KRV", pattern(10, 2)));
    EXPECT_FALSE(disk->rename("A.KRV", "b.krv"));
    EXPECT_EQ(readFile(*disk, "A.KRV"), pattern(10, 1));
    EXPECT_EQ(readFile(*disk, "B.KRV"), pattern(10, 2));
    EXPECT_FALSE(disk->rename("MISSING.KRV", "C.KRV"));
}

TEST_F(FatImageDisk, TwoTakesWrittenSideBySideAreEachContiguous) {
    ASSERT_TRUE(test::mmd(image_, "SONG0000.KRV"));
    auto disk = openImageDiskFiles(image_, 0);
    auto left = disk->open("SONG0000.KRV/TAKEXXXX.KRV.TMP00", OpenMode::write);
    auto right = disk->open("SONG0000.KRV/TAKEXXXX.KRV.TMP08", OpenMode::write);
    ASSERT_TRUE(left && right);
    const auto block = pattern(10, 3);
    for (int i = 0; i < 3276 * 5; ++i) {
        ASSERT_TRUE(left->write(block.data(), block.size()));
        ASSERT_TRUE(right->write(block.data(), block.size()));
    }
    ASSERT_TRUE(left->close() && right->close());
    for (const char* name : {"SONG0000.KRV/TAKEXXXX.KRV.TMP00", "SONG0000.KRV/TAKEXXXX.KRV.TMP08"}) {
        std::vector<std::uint16_t> chain;
        ASSERT_TRUE(disk->clusterChain(name, chain));
        ASSERT_EQ(chain.size(), 5u);
        for (std::size_t i = 1; i < chain.size(); ++i) EXPECT_EQ(chain[i], chain[0] + i) << name;
    }
    disk.reset();
    EXPECT_TRUE(test::fsckFat(image_).clean()) << test::fsckFat(image_).output;
}

TEST_F(FatImageDisk, StreamSizeSeekBeyondEndAndTruncateBehaveLikeAFile) {
    auto disk = openImageDiskFiles(image_, 0);
    auto stream = disk->open("GAP.KRV", OpenMode::write);
    ASSERT_TRUE(stream);
    const std::uint8_t tail[3] = {7, 8, 9};
    ASSERT_TRUE(stream->seek(100000));
    ASSERT_TRUE(stream->write(tail, 3));
    EXPECT_EQ(stream->size(), 100003u);
    ASSERT_TRUE(stream->truncate(50));
    EXPECT_EQ(stream->size(), 50u);
    EXPECT_EQ(stream->position(), 100003u);
    ASSERT_TRUE(stream->truncate(40000));  // extends with zeros
    ASSERT_TRUE(stream->close());

    auto bytes = readFile(*disk, "GAP.KRV");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 40000u);
    EXPECT_TRUE(std::all_of(bytes->begin(), bytes->end(), [](std::uint8_t b) { return b == 0; }));

    auto reader = disk->open("GAP.KRV", OpenMode::read);
    std::uint8_t byte = 0;
    ASSERT_TRUE(reader && reader->seek(40000));
    EXPECT_FALSE(reader->read(&byte, 1));
    EXPECT_FALSE(reader->good());
    EXPECT_FALSE(reader->seek(0)) << "a failed stream stays failed";
    EXPECT_FALSE(reader->write(&byte, 1));
    disk.reset();
    EXPECT_TRUE(test::fsckFat(image_).clean()) << test::fsckFat(image_).output;
}

TEST_F(FatImageDisk, WriteModeReplacesContentsAndFreesTheOldClusters) {
    auto disk = openImageDiskFiles(image_, 0);
    const auto before = disk->freeBytes();
    ASSERT_TRUE(writeFile(*disk, "EVENTLS0.KRV", pattern(5 * 32768, 1), 4096));
    EXPECT_EQ(disk->freeBytes(), *before - 5 * 32768);
    ASSERT_TRUE(writeFile(*disk, "EVENTLS0.KRV", pattern(100, 2)));
    EXPECT_EQ(disk->freeBytes(), *before - 32768);
    EXPECT_EQ(readFile(*disk, "EVENTLS0.KRV"), pattern(100, 2));
    disk.reset();
    EXPECT_TRUE(test::fsckFat(image_).clean()) << test::fsckFat(image_).output;
    const auto free = test::runCommand("MTOOLS_SKIP_CHECK=1 mdir -i " + test::shellQuote(image_) + " ::/");
    EXPECT_NE(free.output.find("bytes free"), std::string::npos);
}

TEST_F(FatImageDisk, FreeBytesAreFreeClustersTimesClusterSize) {
    auto disk = openImageDiskFiles(image_, 0);
    const auto free = disk->freeBytes();
    ASSERT_TRUE(free);
    EXPECT_EQ(*free % 32768, 0u);
    const auto mdirOut = test::runCommand("MTOOLS_SKIP_CHECK=1 mdir -i " + test::shellQuote(image_) + " ::/");
    std::string digits;
    const std::size_t at = mdirOut.output.find("bytes free");
    ASSERT_NE(at, std::string::npos);
    for (std::size_t i = mdirOut.output.rfind('\n', at) + 1; i < at; ++i)
        if (std::isdigit(static_cast<unsigned char>(mdirOut.output[i]))) digits += mdirOut.output[i];
    EXPECT_EQ(std::to_string(*free), digits);
}

TEST_F(FatImageDisk, ReadOnlyAttributeAndReadOnlyImageRefuseWriting) {
    ASSERT_TRUE(test::mcopyBytesIn(image_, pattern(10, 1), "SYSTEM.KRV"));
    ASSERT_EQ(test::runCommand("MTOOLS_SKIP_CHECK=1 mattrib -i " + test::shellQuote(image_) + " +r ::/SYSTEM.KRV").status, 0);
    {
        auto disk = openImageDiskFiles(image_, 0);
        EXPECT_EQ(disk->exists("SYSTEM.KRV"), FileExistence::present);
        EXPECT_TRUE(disk->open("SYSTEM.KRV", OpenMode::read));
        EXPECT_FALSE(disk->open("SYSTEM.KRV", OpenMode::update));
        EXPECT_FALSE(disk->open("SYSTEM.KRV", OpenMode::write));
    }
    ASSERT_EQ(test::runCommand("MTOOLS_SKIP_CHECK=1 mattrib -i " + test::shellQuote(image_) + " -r ::/SYSTEM.KRV").status, 0);
    ASSERT_EQ(::chmod(image_.c_str(), 0444), 0);
    const auto before = test::readHostFile(image_);
    {
        auto disk = openImageDiskFiles(image_, 0);
        EXPECT_EQ(disk->exists("SYSTEM.KRV"), FileExistence::present);
        if (::geteuid() != 0) {  // root may write regardless of the mode bits
            EXPECT_FALSE(disk->open("SYSTEM.KRV", OpenMode::update));
            EXPECT_FALSE(disk->open("NEW.KRV", OpenMode::write));
            EXPECT_FALSE(disk->remove("SYSTEM.KRV"));
        }
    }
    EXPECT_EQ(test::readHostFile(image_), before);
}

TEST_F(FatImageDisk, ImageThatCannotBeOpenedAnswersMissingOrAccessDenied) {
    auto missing = openImageDiskFiles(folder_.path() + "/none.img", 0);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->kind(), DiskKind::image);
    EXPECT_EQ(missing->exists("SYSTEM.KRV"), FileExistence::missing);
    EXPECT_FALSE(missing->freeBytes());
    std::string reason;
    EXPECT_FALSE(missing->checkVolume(reason));
    EXPECT_NE(reason.find("none.img"), std::string::npos);
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(image_.c_str(), 0), 0);
        EXPECT_EQ(openImageDiskFiles(image_, 0)->exists("SYSTEM.KRV"), FileExistence::accessDenied);
    }
}

}  // namespace
}  // namespace korvo
