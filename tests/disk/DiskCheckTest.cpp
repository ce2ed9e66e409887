#include <gtest/gtest.h>
#include <sys/stat.h>

#include "disk/DiskLayout.h"
#include "volume/FolderDiskFiles.h"
#include "tests/support/Unprivileged.h"
#include "tests/support/DiskFixture.h"

namespace korvo {
namespace {

using test::DiskFixture;

struct Detection {
    int result;
    DiskFamily family;
};

Detection detect(const std::string& root) {
    CFolderDiskFiles disk(root, {});
    DiskFamily family = kFamilyNone;
    int result = checkDisk(disk, family);
    return {result, family};
}

TEST(DiskCheck, RecognisesEachFamilyByItsIdentifyingPair) {
    for (DiskFamily family : {kFamilyQmt, kFamilyKrv, kFamilyQms}) {
        DiskFixture disk(family);
        Detection found = detect(disk.root());
        EXPECT_EQ(found.result, kDiskWritable) << family;
        EXPECT_EQ(found.family, family);
    }
}

TEST(DiskCheck, ASongListAloneIsNotARecorderDisk) {
    DiskFixture disk(kFamilyNone);
    disk.writeFile("SONGLIST.KRV", test::songListBytes({}));
    Detection found = detect(disk.root());
    EXPECT_EQ(found.result, kDiskNotRecorder);
    EXPECT_EQ(found.family, kFamilyNone);

    EXPECT_EQ(detect(disk.root() + "/no such folder").result, kDiskNotRecorder);
}

TEST(DiskCheck, TheFirstFamilyInOrderWinsWhenPairsOfSeveralArePresent) {
    DiskFixture disk(kFamilyKrv);
    disk.writeFile("DISKINFO.QMT", {1});
    disk.writeFile("SONGLIST.QMT", test::songListBytes({}));
    EXPECT_EQ(detect(disk.root()).family, kFamilyQmt);

    // SYSTEM.QMS with the shared song list is the QMS family only without SYSTEM.KRV.
    DiskFixture both(kFamilyKrv);
    both.writeFile("SYSTEM.QMS", {1});
    EXPECT_EQ(detect(both.root()).family, kFamilyKrv);
}

TEST(DiskCheck, IdentifyingFilesAreFoundWhateverTheirCase) {
    DiskFixture disk(kFamilyNone);
    disk.writeFile("system.krv", {1});
    disk.writeFile("SongList.Krv", test::songListBytes({}));
    Detection found = detect(disk.root());
    EXPECT_EQ(found.result, kDiskWritable);
    EXPECT_EQ(found.family, kFamilyKrv);
}

TEST(DiskCheck, LeavesTheIdentifyingFilesAsTheyWere) {
    DiskFixture disk(kFamilyKrv);
    struct stat before;
    ASSERT_EQ(::stat(disk.hostPath("SYSTEM.KRV").c_str(), &before), 0);
    auto contents = disk.readFile("SYSTEM.KRV");
    ASSERT_EQ(detect(disk.root()).result, kDiskWritable);
    struct stat after;
    ASSERT_EQ(::stat(disk.hostPath("SYSTEM.KRV").c_str(), &after), 0);
    EXPECT_EQ(disk.readFile("SYSTEM.KRV"), contents);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST(DiskCheck, AWriteProtectedDiskIsRecognisedButReadOnly) {
    DiskFixture disk(kFamilyQms);
    ::chmod(disk.hostPath("SYSTEM.QMS").c_str(), 0444);
    test::Unprivileged scope;
    if (!scope.effective()) {
        GTEST_SKIP() << "cannot drop root privileges to make file permissions apply";
    }
    Detection found = detect(disk.root());
    EXPECT_EQ(found.result, kDiskReadOnly);
    EXPECT_EQ(found.family, kFamilyQms);
}

TEST(DiskCheck, RefusedAccessIsToldFromAMissingDisk) {
    DiskFixture disk(kFamilyKrv);
    ::chmod(disk.root().c_str(), 0);
    {
        test::Unprivileged scope;
        if (!scope.effective()) {
            ::chmod(disk.root().c_str(), 0755);
            GTEST_SKIP() << "cannot drop root privileges to make file permissions apply";
        }
        Detection found = detect(disk.root());
        EXPECT_EQ(found.result, kDiskAccessDenied);
        EXPECT_EQ(found.family, kFamilyQmt);  // the family being tested when access was refused
    }
    ::chmod(disk.root().c_str(), 0755);
}

TEST(DiskLayout, NamesSongFoldersAndTakesAsTheRecorderDoes) {
    EXPECT_EQ(songFolderName(kFamilyKrv, 123), "SONG0123.KRV");
    EXPECT_EQ(songFolderName(kFamilyQms, 123), "SONG0123.QMS");
    EXPECT_EQ(songFolderName(kFamilyQmt, 0), "SONG0000.QMT");
    EXPECT_EQ(songFilePath(kFamilyKrv, 7, kEventListFileName), "SONG0007.KRV/EVENTLS0.KRV");
    EXPECT_EQ(takeFileName(0x1A3), "TAKE01A3.KRV");
    EXPECT_EQ(takeFileName(0xBEEF), "TAKEBEEF.KRV");
    EXPECT_EQ(temporaryTakeFileName(5), "TAKEXXXX.KRV.TMP05");
    EXPECT_EQ(temporaryTakeFileName(63), "TAKEXXXX.KRV.TMP63");
    EXPECT_STREQ(songListFileName(kFamilyQms), "SONGLIST.KRV");
    EXPECT_STREQ(identifyingFile(kFamilyNone), "");
}

}  // namespace
}  // namespace korvo
