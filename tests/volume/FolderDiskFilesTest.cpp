#include <gtest/gtest.h>

#include <filesystem>

#include <random>

#include "volume/FolderDiskFiles.h"
#include "volume/FolderStream.h"
#include "volume/OpenDisk.h"
#include "tests/support/Unprivileged.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/FatImages.h"

namespace korvo {
namespace {

using test::Bytes;
using test::DiskFixture;

Bytes readAll(IDiskFiles& files, std::string_view path) {
    auto stream = files.open(path, OpenMode::read);
    if (!stream) {
        return {};
    }
    Bytes bytes(static_cast<std::size_t>(stream->size().value_or(0)));
    return stream->read(bytes.data(), bytes.size()) ? bytes : Bytes{};
}

TEST(FolderDiskFiles, MatchesEachPathComponentWithoutRegardToCase) {
    DiskFixture disk(kFamilyNone);
    disk.writeFile("song0001.krv/EventLs0.Krv", {1, 2, 3});
    CFolderDiskFiles files(disk.root(), {});
    EXPECT_EQ(files.exists("SONG0001.KRV/EVENTLS0.KRV"), FileExistence::present);
    EXPECT_EQ(files.exists("SONG0001.KRV"), FileExistence::present);
    EXPECT_EQ(readAll(files, "SONG0001.KRV/EVENTLS0.KRV"), (Bytes{1, 2, 3}));
    EXPECT_EQ(files.exists("SONG0001.KRV/EVENTLS1.KRV"), FileExistence::missing);
    EXPECT_EQ(files.exists("SONG0001.KRV/EVENTLS0.KRV/X"), FileExistence::missing);
    EXPECT_EQ(files.exists("../" + disk.root()), FileExistence::missing);

    // A new file goes into the matched folder under the name given; an existing one is
    // replaced under its stored name.
    auto created = files.open("SONG0001.KRV/TAKEXXXX.KRV.TMP05", OpenMode::write);
    ASSERT_TRUE(created);
    ASSERT_TRUE(created->write("x", 1) && created->close());
    auto cut = files.open("SONG0001.KRV/EVENTLS0.KRV", OpenMode::write);
    ASSERT_TRUE(cut && cut->close());
    EXPECT_EQ(disk.listFolder("song0001.krv"),
              (std::vector<std::string>{"EventLs0.Krv", "TAKEXXXX.KRV.TMP05"}));
    EXPECT_EQ(disk.readFile("song0001.krv/EventLs0.Krv"), Bytes{});
}

TEST(FolderDiskFiles, OpenModesReadCutOrUpdateInPlace) {
    DiskFixture disk(kFamilyNone);
    disk.writeFile("F.BIN", {1, 2, 3, 4, 5});
    CFolderDiskFiles files(disk.root(), {});
    EXPECT_FALSE(files.open("NONE.BIN", OpenMode::read));
    EXPECT_FALSE(files.open("NONE.BIN", OpenMode::update));
    EXPECT_FALSE(files.open("NOFOLDER/NONE.BIN", OpenMode::write));
    EXPECT_FALSE(files.exists("NONE.BIN") == FileExistence::present);
    disk.writeFile("DIR/INNER", {});
    EXPECT_FALSE(files.open("DIR", OpenMode::read));

    auto update = files.open("f.bin", OpenMode::update);
    ASSERT_TRUE(update);
    EXPECT_EQ(update->size(), 5u);
    ASSERT_TRUE(update->seek(1));
    ASSERT_TRUE(update->write("\x09", 1));
    ASSERT_TRUE(update->seek(8));
    ASSERT_TRUE(update->write("\x07", 1));
    EXPECT_EQ(update->size(), 9u);  // including what is still buffered
    ASSERT_TRUE(update->close());
    EXPECT_EQ(disk.readFile("F.BIN"), (Bytes{1, 9, 3, 4, 5, 0, 0, 0, 7}));

    auto truncating = files.open("F.BIN", OpenMode::update);
    ASSERT_TRUE(truncating && truncating->truncate(2) && truncating->close());
    EXPECT_EQ(disk.readFile("F.BIN"), (Bytes{1, 9}));
}

TEST(FolderDiskFiles, AShortReadFailsTheStreamForGood) {
    DiskFixture disk(kFamilyNone);
    disk.writeFile("F.BIN", {1, 2, 3});
    CFolderDiskFiles files(disk.root(), {});
    auto stream = files.open("F.BIN", OpenMode::read);
    ASSERT_TRUE(stream);
    std::uint8_t bytes[4];
    EXPECT_FALSE(stream->read(bytes, 4));
    EXPECT_FALSE(stream->good());
    EXPECT_FALSE(stream->seek(0));
    EXPECT_FALSE(stream->read(bytes, 1));
    EXPECT_FALSE(stream->close());
}

// Random reads, writes, seeks and truncations of every size agree with a plain byte array.
TEST(FolderDiskFiles, BufferedStreamAgreesWithTheFileItDescribes) {
    DiskFixture disk(kFamilyNone);
    Bytes model(100000);
    std::mt19937 random(11);
    for (auto& byte : model) {
        byte = static_cast<std::uint8_t>(random());
    }
    disk.writeFile("F.BIN", model);
    CFolderDiskFiles files(disk.root(), {});
    auto stream = files.open("F.BIN", OpenMode::update);
    ASSERT_TRUE(stream);
    std::uint64_t position = 0;
    int reads = 0;
    const std::size_t sizes[] = {
        1, 8, 10, 16, 4000, CFolderStream::kBufferBytes - 3, CFolderStream::kBufferBytes + 5};
    for (int step = 0; step < 3000; ++step) {
        const std::size_t n = sizes[random() % std::size(sizes)];
        switch (random() % 6) {
            case 0:
            case 1: {
                if (position + n > model.size()) {
                    break;  // a short read fails the stream for good (tested above)
                }
                Bytes got(n);
                ASSERT_TRUE(stream->read(got.data(), n)) << step;
                ASSERT_TRUE(std::equal(got.begin(), got.end(), model.begin() + position)) << step;
                position += n;
                ++reads;
                break;
            }
            case 2:
            case 3: {
                Bytes data(n, static_cast<std::uint8_t>(step));
                ASSERT_TRUE(stream->write(data.data(), n));
                if (position + n > model.size()) {
                    model.resize(position + n);
                }
                std::copy(data.begin(), data.end(), model.begin() + position);
                position += n;
                break;
            }
            case 4:
                position = random() % (model.size() + 10);
                ASSERT_TRUE(stream->seek(position));
                if (position > model.size()) {
                    // Only a write past the end makes the gap real; go back inside instead.
                    position = model.size();
                    ASSERT_TRUE(stream->seek(position));
                }
                break;
            case 5:
                if (random() % 8 == 0) {
                    std::size_t length = random() % (model.size() + 1);
                    ASSERT_TRUE(stream->truncate(length));
                    model.resize(length);
                    if (position > length) {
                        position = length;
                        ASSERT_TRUE(stream->seek(position));
                    }
                }
                break;
        }
        ASSERT_EQ(stream->position(), position);
        ASSERT_EQ(stream->size(), model.size());
    }
    ASSERT_TRUE(stream->close());
    EXPECT_TRUE(disk.readFile("F.BIN") == model);
    EXPECT_GT(reads, 500);
}

TEST(FolderDiskFiles, RenameNeverReplacesAnotherFile) {
    DiskFixture disk(kFamilyNone);
    disk.writeFile("S/TAKEXXXX.KRV.TMP01", {1});
    disk.writeFile("S/take0002.krv", {2});
    CFolderDiskFiles files(disk.root(), {});
    EXPECT_FALSE(files.rename("S/TAKEXXXX.KRV.TMP01", "S/TAKE0002.KRV"));
    EXPECT_FALSE(files.rename("S/NONE", "S/TAKE0003.KRV"));
    EXPECT_TRUE(files.rename("S/TAKEXXXX.KRV.TMP01", "S/TAKE0003.KRV"));
    EXPECT_EQ(disk.listFolder("S"), (std::vector<std::string>{"TAKE0003.KRV", "take0002.krv"}));
    EXPECT_EQ(disk.readFile("S/take0002.krv"), Bytes{2});

    EXPECT_TRUE(files.remove("s/TAKE0003.KRV"));
    EXPECT_FALSE(files.remove("S/TAKE0003.KRV"));
    EXPECT_FALSE(files.remove("S"));  // folders are not files
    EXPECT_EQ(disk.listFolder("S"), (std::vector<std::string>{"take0002.krv"}));
}

TEST(FolderDiskFiles, RefusedAccessIsNotReportedAsMissing) {
    DiskFixture disk(kFamilyNone);
    disk.writeFile("LOCKED/INSIDE.KRV", {1});
    std::filesystem::permissions(disk.hostPath("LOCKED"), std::filesystem::perms::none);
    {
        test::Unprivileged scope;
        if (!scope.effective()) {
            GTEST_SKIP() << "cannot drop root privileges to make file permissions apply";
        }
        CFolderDiskFiles files(disk.root(), {});
        EXPECT_EQ(files.exists("LOCKED/INSIDE.KRV"), FileExistence::accessDenied);
        EXPECT_EQ(files.exists("locked/inside.krv"), FileExistence::accessDenied);
        EXPECT_EQ(files.exists("OTHER.KRV"), FileExistence::missing);
        EXPECT_FALSE(files.open("LOCKED/INSIDE.KRV", OpenMode::read));
    }
}

TEST(OpenDiskFiles, AFolderOrMissingPathIsAFolderAndAFileIsAnImage) {
    DiskFixture disk(kFamilyKrv);
    EXPECT_EQ(openDiskFiles(disk.root(), {})->kind(), DiskKind::folder);
    auto missing = openDiskFiles(disk.root() + "/gone", {});
    EXPECT_EQ(missing->kind(), DiskKind::folder);
    EXPECT_EQ(missing->exists("SYSTEM.KRV"), FileExistence::missing);
    disk.writeFile("disk.img", Bytes(4096));
    auto image = openDiskFiles(disk.hostPath("disk.img"), {});
    EXPECT_EQ(image->kind(), DiskKind::image);
    EXPECT_EQ(image->rootPath(), disk.hostPath("disk.img"));
    EXPECT_TRUE(openDiskFiles(disk.root(), {})->freeBytes().has_value());
}

// A folder holding a copy of a recorder volume's files reads its cluster chains from the
// image given as its device; mtools says which clusters the file really has.
TEST(FolderDiskFiles, ClusterChainsComeFromTheGivenVolume) {
    KORVO_SKIP_WITHOUT_FAT_TOOLS();
    DiskFixture disk(kFamilyKrv);
    disk.addSong(test::songEntry(0, "S"));
    const Bytes take = test::takeFileBytes(kFamilyKrv, 5, test::patternBlocks(5, 9000));
    disk.writeFile(disk.songPath(0, "TAKE0002.KRV"), take);
    test::TemporaryFolder images;
    const std::string image = images.path() + "/volume.img";
    ASSERT_TRUE(test::mkfsFat(image, fat::FatType::fat16, 32768,
                              test::smallVolumeBytes(fat::FatType::fat16, 32768)));
    ASSERT_TRUE(test::mmd(image, "SONG0000.KRV"));
    ASSERT_TRUE(test::mcopyBytesIn(image, Bytes(40000, 1), "SONG0000.KRV/OTHER.BIN"));
    ASSERT_TRUE(test::mcopyBytesIn(image, take, "SONG0000.KRV/TAKE0002.KRV"));
    auto clusters = test::mshowfat(image, "SONG0000.KRV/TAKE0002.KRV");
    ASSERT_TRUE(clusters && !clusters->empty());

    CFolderDiskFiles files(disk.root(), {image, 0});
    std::string reason;
    EXPECT_TRUE(files.checkVolume(reason)) << reason;
    std::vector<std::uint16_t> chain;
    ASSERT_TRUE(files.clusterChain("song0000.krv/take0002.krv", chain));
    std::vector<std::uint16_t> expected(clusters->begin(), clusters->end());
    EXPECT_EQ(chain, expected);
    EXPECT_FALSE(files.clusterChain("SONG0000.KRV/NONE.KRV", chain));

    CFolderDiskFiles noVolume(disk.root(), {images.path() + "/none.img", 0});
    EXPECT_FALSE(noVolume.checkVolume(reason));
    EXPECT_NE(reason.find("none.img"), std::string::npos) << reason;
}

}  // namespace
}  // namespace korvo
