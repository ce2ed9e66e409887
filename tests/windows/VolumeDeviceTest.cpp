// The Windows drive and raw-volume logic over calls that answer from FAT images: the drive list,
// cluster chains read through the volume file with retrieval pointers, and a drive written
// directly only after it was locked and dismounted.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "disk/DiskFiles.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/ImageVolumeDevices.h"
#include "volume/ClusterChain.h"
#include "volume/Platform.h"
#include "volume/Volume.h"
#include "volume/VolumeDevice.h"
#include "volume/fat/DirectoryWalk.h"
#include "volume/fat/FatFormat.h"
#include "volume/fat/ImageDiskFiles.h"

namespace korvo {
namespace {

using test::ImageVolumeDevices;

struct Image {
    fat::FatType type;
    std::uint32_t clusterBytes;
    std::uint64_t volumeBytes;
};

// A formatted image with a take of `takeBytes` written by the FAT image file system, after a
// small file so that the take does not start at the first data cluster.
std::string makeImage(const std::string& folder, const Image& shape, std::size_t takeBytes) {
    const std::string path = folder + "/disk.img";
    fat::FormatOptions options;
    options.type = shape.type;
    options.clusterBytes = shape.clusterBytes;
    EXPECT_TRUE(fat::formatImageFile(path, shape.volumeBytes, options));
    auto disk = openImageDiskFiles(path, 0);
    EXPECT_TRUE(disk->makeFolder("SONG0000.KRV"));
    auto write = [&](const char* name, std::size_t bytes) {
        std::vector<std::uint8_t> data(bytes);
        for (std::size_t i = 0; i < bytes; ++i) {
            data[i] = static_cast<std::uint8_t>(i * 7 + 3);
        }
        auto stream = disk->open(name, OpenMode::write);
        ASSERT_TRUE(stream && stream->write(data.data(), data.size()) && stream->close());
    };
    write("SONG0000.KRV/EVENTLS0.KRV", 130);
    write("SONG0000.KRV/TAKE0002.KRV", takeBytes);
    return path;
}

// The chain as the project's own directory walk reads it from the image file.
std::vector<std::uint16_t> chainInImage(const std::string& image, const std::string& path) {
    int error = 0;
    auto device = fat::FileBlockDevice::open(image, false, &error);
    std::uint8_t boot[fat::boot::kSize];
    EXPECT_TRUE(device && device->readAt(0, boot, sizeof boot));
    const auto geometry = fat::parseBootSector(boot, sizeof boot, device->size());
    fat::FatVolumeReader reader(*device, *geometry);
    const auto found = reader.lookup(path);
    std::vector<std::uint16_t> chain;
    for (const auto cluster : reader.chain(found.item.firstCluster).clusters) {
        chain.push_back(static_cast<std::uint16_t>(cluster));
    }
    return chain;
}

TEST(WindowsDriveList, LettersAndTypesInTheHostsOrder) {
    ImageVolumeDevices devices;
    test::TemporaryFolder folder;
    devices.addDrive('C', "", DriveType::fixed);
    devices.addDrive('E', folder.path() + "/none.img", DriveType::removable);
    devices.addDrive('R', "", DriveType::cdrom);
    const auto drives = driveList(devices);
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[1].letter, 'E');
    EXPECT_EQ(drives[1].root, "E:\\");
    EXPECT_EQ(drives[1].type, DriveType::removable);
    EXPECT_EQ(drives[2].type, DriveType::cdrom);
}

TEST(WindowsDriveList, RawVolumePathsNameTheirDrive) {
    EXPECT_EQ(rawVolumeLetter("\\\\.\\e:"), 'E');
    EXPECT_EQ(rawVolumeLetter("//./F:"), 'F');
    EXPECT_FALSE(rawVolumeLetter("\\\\.\\E:\\SONG0000.KRV"));
    EXPECT_FALSE(rawVolumeLetter("E:\\"));
    EXPECT_FALSE(rawVolumeLetter("\\\\.\\PhysicalDrive1"));
}

class WindowsRawVolume : public ::testing::TestWithParam<Image> {};

// The NT route: the first cluster from the retrieval pointers, the chain from FAT sectors read
// whole through the volume file, matching what the image holds.
TEST_P(WindowsRawVolume, ChainOfATakeMatchesTheImage) {
    test::TemporaryFolder folder;
    const std::string image = makeImage(folder.path(), GetParam(), 5 * GetParam().clusterBytes + 9);
    ImageVolumeDevices devices;
    devices.addDrive('E', image, DriveType::removable);
    CRawVolumeFile volumeFile(devices, 'E');
    CVolume volume(hostPlatform(), driveNumberOf('E'), &volumeFile, nullptr);
    std::vector<std::uint16_t> chain;
    ASSERT_TRUE(clusterChain(volume, "SONG0000.KRV/TAKE0002.KRV", chain)) << volume.reason();
    EXPECT_EQ(chain, chainInImage(image, "SONG0000.KRV/TAKE0002.KRV"));
    EXPECT_EQ(chain.size(), 6u);
    EXPECT_EQ(devices.misalignedTransfers(), 0);
    EXPECT_EQ(devices.openHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(FatTypes, WindowsRawVolume,
                         ::testing::Values(Image{fat::FatType::fat12, 2048, 8ull << 20},
                                           Image{fat::FatType::fat16, 32768, 160ull << 20},
                                           Image{fat::FatType::fat32, 4096, 300ull << 20}),
                         [](const auto& info) {
                             return "Fat" + std::to_string(fat::fatEntryBits(info.param.type));
                         });

TEST(WindowsRawVolumeFile, MissingOrEmptyFileHasNoChain) {
    test::TemporaryFolder folder;
    const std::string image =
        makeImage(folder.path(), {fat::FatType::fat16, 32768, 160ull << 20}, 0);
    ImageVolumeDevices devices;
    devices.addDrive('E', image, DriveType::removable);
    CRawVolumeFile volumeFile(devices, 'E');
    CVolume volume(hostPlatform(), driveNumberOf('E'), &volumeFile, nullptr);
    std::vector<std::uint16_t> chain{1, 2};
    EXPECT_FALSE(clusterChain(volume, "SONG0000.KRV/TAKE0002.KRV", chain));  // no extents
    EXPECT_FALSE(clusterChain(volume, "SONG0000.KRV/TAKE0003.KRV", chain));  // no file
    EXPECT_TRUE(chain.empty());
}

TEST(WindowsRawVolumeFile, DriveWithoutMediumDoesNotOpen) {
    ImageVolumeDevices devices;
    devices.addDrive('A', "", DriveType::removable);
    CRawVolumeFile volumeFile(devices, 'A');
    std::string reason;
    EXPECT_FALSE(volumeFile.open(reason));
    EXPECT_NE(reason.find("A:\\"), std::string::npos);
}

// The image route on a drive: the recorder's files written straight onto the volume, which is
// locked and dismounted before the first write; what lands there is a sound FAT volume.
TEST(WindowsRawVolumeTarget, WritesOnlyAfterLockAndDismount) {
    test::TemporaryFolder folder;
    const std::string image =
        makeImage(folder.path(), {fat::FatType::fat16, 32768, 160ull << 20}, 100);
    ImageVolumeDevices devices;
    devices.addDrive('E', image, DriveType::removable);
    std::string reason;
    auto target = CRawVolumeTarget::open(devices, 'E', true, reason);
    ASSERT_TRUE(target) << reason;
    const auto calls = devices.calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "open E write");
    EXPECT_EQ(calls[1], "lock");
    EXPECT_EQ(calls[2], "dismount");

    auto disk = openImageDiskFiles(std::move(target), "\\\\.\\E:", 0);
    const std::string text = "a name written across sector edges";
    auto stream = disk->open("SONG0000.KRV/TAKE0002.KRV", OpenMode::update);
    ASSERT_TRUE(stream && stream->seek(500) && stream->write(text.data(), text.size()) &&
                stream->close());
    disk.reset();
    EXPECT_EQ(devices.refusedWrites(), 0);
    EXPECT_EQ(devices.misalignedTransfers(), 0);
    EXPECT_EQ(devices.openHandles(), 0);

    auto reread = openImageDiskFiles(image, 0);
    auto check = reread->open("SONG0000.KRV/TAKE0002.KRV", OpenMode::read);
    std::vector<std::uint8_t> bytes(534);
    ASSERT_TRUE(check && check->read(bytes.data(), bytes.size()));
    EXPECT_EQ(bytes[99], static_cast<std::uint8_t>(99 * 7 + 3));  // kept around the write
    EXPECT_EQ(std::string(bytes.begin() + 500, bytes.end()), text);
}

TEST(WindowsRawVolumeTarget, BusyDriveIsNotWrittenAndSaysWhy) {
    test::TemporaryFolder folder;
    const std::string image =
        makeImage(folder.path(), {fat::FatType::fat16, 32768, 160ull << 20}, 100);
    ImageVolumeDevices devices;
    devices.addDrive('E', image, DriveType::removable);
    devices.setBusy('E', true);
    std::string reason;
    EXPECT_FALSE(CRawVolumeTarget::open(devices, 'E', true, reason));
    EXPECT_NE(reason.find("in use"), std::string::npos) << reason;
    EXPECT_EQ(devices.openHandles(), 0);
    // Reading needs no lock.
    auto reader = CRawVolumeTarget::open(devices, 'E', false, reason);
    ASSERT_TRUE(reader);
    std::uint8_t boot[3];
    EXPECT_TRUE(reader->readAt(0, boot, sizeof boot));
    EXPECT_FALSE(reader->writeAt(0, boot, sizeof boot));
}

}  // namespace
}  // namespace korvo
