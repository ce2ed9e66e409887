// Finding the device or image behind a mounted folder from the kernel's mount table.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "volume/HostVolume.h"
#include "volume/MountTable.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMountInfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
    "40 22 8:17 / /media/rec rw,nosuid shared:20 master:3 - vfat /dev/sdb1 rw,fmask=0022\n"
    "41 22 8:33 / /media/record rw - vfat /dev/sdc1 rw\n"
    "42 22 8:49 / /media/my\\040disk rw - vfat /dev/sdd1 rw\n"
    "garbage line\n"
    "43 22 0:40 / /mnt/take rw,nosuid,nodev - fuse.fusefat fusefat rw,user_id=0\n"
    "44 22 8:65 / /media/rec rw - vfat /dev/sde1 rw\n"
    "45 22 0:41 / /mnt/named rw - fuse /home/u/rec.img rw\n";

TEST(VolumeMountTable, EntriesCarryMountPointTypeAndSource) {
    const auto mounts = parseMountInfo(kMountInfo);
    ASSERT_EQ(mounts.size(), 7u);
    EXPECT_EQ(mounts[1].mountPoint, "/media/rec");
    EXPECT_EQ(mounts[1].fileSystem, "vfat");
    EXPECT_EQ(mounts[1].source, "/dev/sdb1");
    EXPECT_EQ(mounts[3].mountPoint, "/media/my disk");
    EXPECT_EQ(mounts[4].fileSystem, "fuse.fusefat");
    EXPECT_EQ(mounts[4].source, "fusefat");
    EXPECT_TRUE(parseMountInfo("").empty());
    EXPECT_TRUE(parseMountInfo("1 2 3 4 5 6 7 8 9 10\n").empty());  // no separator
    EXPECT_TRUE(parseMountInfo("1 2 3 / /x rw - vfat\n").empty());   // no source
}

TEST(VolumeMountTable, FolderBelongsToTheLongestMountPointThatHoldsIt) {
    const auto mounts = parseMountInfo(kMountInfo);
    const auto sourceOf = [&](const char* path) {
        const MountEntry* mount = mountHolding(mounts, path);
        return mount ? mount->source : std::string("none");
    };
    // /media/rec was mounted over: the later mount is the one seen.
    EXPECT_EQ(sourceOf("/media/rec"), "/dev/sde1");
    EXPECT_EQ(sourceOf("/media/rec/SONG0000.KRV"), "/dev/sde1");
    EXPECT_EQ(sourceOf("/media/record/SONG0000.KRV"), "/dev/sdc1");
    EXPECT_EQ(sourceOf("/media/recorder"), "/dev/vda1");
    EXPECT_EQ(sourceOf("/media/my disk/x"), "/dev/sdd1");
    EXPECT_EQ(sourceOf("/"), "/dev/vda1");
    EXPECT_EQ(sourceOf("relative/path"), "none");
}

TEST(VolumeMountTable, FolderOnTheRootFileSystemIsFound) {
    const auto mounted = findMountedVolume(fs::temp_directory_path().string());
    ASSERT_TRUE(mounted);
    EXPECT_FALSE(mounted->mountPoint.empty());
    EXPECT_FALSE(mounted->fileSystem.empty());
    EXPECT_FALSE(findMountedVolume("/no/such/folder/at/all"));
}

// A real user-space mount of a FAT image: the folder leads back to the image, from which the
// chain of a file seen in the folder is read.
TEST(VolumeMountTable, UserSpaceFatMountLeadsToItsImage) {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is not usable here";
    if (std::system("command -v fusefat >/dev/null 2>&1 && command -v fusermount3 >/dev/null 2>&1 "
                    "&& command -v mkfs.fat >/dev/null 2>&1 && command -v mcopy >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "fusefat, fuse3, dosfstools or mtools is not installed (make deps)";

    const fs::path folder = fs::temp_directory_path() / ("korvo-mount-" + std::to_string(::getpid()));
    fs::create_directories(folder / "mnt");
    const std::string image = (folder / "rec.img").string();
    const std::string mountPoint = (folder / "mnt").string();
    {
        std::ofstream take(folder / "take.bin", std::ios::binary);
        take << std::string(100000, 'k');
    }
    ASSERT_EQ(std::system(("mkfs.fat -C -F 16 -s 64 '" + image + "' 262144 >/dev/null && "
                           "mmd -i '" + image + "' ::/SONG0000.KRV && "
                           "mcopy -i '" + image + "' '" + (folder / "take.bin").string() +
                           "' ::/SONG0000.KRV/TAKE0003.KRV").c_str()),
              0);
    // Started from its own folder with a relative image path, as a user would type it.
    const bool mounted = std::system(("cd '" + folder.string() + "' && timeout 10 fusefat -o ro rec.img mnt "
                                      ">/dev/null 2>&1").c_str()) == 0;
    if (!mounted) {
        fs::remove_all(folder);
        GTEST_SKIP() << "fusefat could not mount an image here";
    }
    // The mount is there once the take can be seen through it.
    for (int i = 0; i < 100 && !fs::exists(folder / "mnt" / "SONG0000.KRV"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    const auto volume = findMountedVolume((folder / "mnt" / "SONG0000.KRV").string());
    std::vector<std::uint16_t> chain;
    std::string reason;
    const bool chainRead = volume && clusterChainOnDevice(volume->device, 0,
                                                          "SONG0000.KRV/take0003.krv", chain, &reason);
    if (std::system(("timeout 10 fusermount3 -u '" + mountPoint + "'").c_str()) != 0)
        std::system(("fusermount3 -u -z '" + mountPoint + "'").c_str());
    fs::remove_all(folder);

    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->fileSystem, "fuse.fusefat");
    EXPECT_EQ(volume->mountPoint, mountPoint);
    EXPECT_EQ(volume->device, image);
    EXPECT_TRUE(chainRead) << reason;
    EXPECT_EQ(chain, (std::vector<std::uint16_t>{3, 4, 5, 6}));
}

}  // namespace
}  // namespace korvo
