#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include "app/DriveList.h"
#include "app/KorvoWavDlg.h"
#include "controls/Preferences.h"
#include "tests/gui/RecorderImage.h"
#include "tests/support/DiskFixture.h"

namespace korvo {
namespace {

std::string mountLine(int id, const std::string& mountPoint, const std::string& type,
                      const std::string& source) {
    return std::to_string(id) + " 1 8:1 / " + mountPoint + " rw,relatime shared:1 - " + type +
           " " + source + " rw\n";
}

TEST(DriveListTest, ListsRealFileSystemsOnceAndLeavesPseudoOnesAndFilesOut) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string base = folder.path().toStdString();
    ASSERT_TRUE(QDir(folder.path()).mkpath("recorder disk"));
    ASSERT_TRUE(QDir(folder.path()).mkpath("usb"));
    QFile hosts(folder.filePath("hosts"));
    ASSERT_TRUE(hosts.open(QIODevice::WriteOnly));
    hosts.close();

    const std::string text = mountLine(20, "/", "overlay", "overlay") +
                             mountLine(21, "/proc", "proc", "proc") +
                             mountLine(22, base + "/usb", "ext4", "/dev/sda1") +
                             mountLine(23, base + "/recorder\\040disk", "vfat", "/dev/sdb1") +
                             mountLine(24, base + "/hosts", "ext4", "/dev/sda1") +
                             mountLine(25, base + "/usb", "vfat", "/dev/sdc1") +
                             mountLine(26, base, "tmpfs", "tmpfs") + "a broken line\n";
    const auto listed = listedFileSystems(text);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].mountPoint, base + "/recorder disk");
    EXPECT_EQ(listed[0].source, "/dev/sdb1");
    EXPECT_EQ(listed[1].mountPoint, base + "/usb");  // the later mount over it
    EXPECT_EQ(listed[1].source, "/dev/sdc1");
    EXPECT_TRUE(isPseudoFileSystem("cgroup2"));
    EXPECT_TRUE(isPseudoFileSystem("devpts"));
    EXPECT_FALSE(isPseudoFileSystem("vfat"));
}

TEST(DriveListTest, OpenedImageStaysInTheListAndCancellingKeepsTheDiskChosen) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    setPreferenceFile(folder.filePath("korvowav.ini"));
    struct Silent : IMessageBox {
        void show(QWidget*, const QString& text) override { texts << text; }
        QStringList texts;
    } messages;
    CKorvoWavDlg window(&messages);
    QComboBox& drives = *window.driveCombo();
    const int imageItem = drives.count() - 1;
    const QString image = folder.filePath("card.img");

    window.setImageChooser([&] { return image; });
    drives.setCurrentIndex(imageItem);
    emit drives.activated(imageItem);
    EXPECT_EQ(drives.currentText(), image);
    EXPECT_EQ(drives.count(), imageItem + 2);
    EXPECT_EQ(drives.itemText(drives.count() - 1), "Open disk image...");
    EXPECT_EQ(window.converter().rootPath(), image.toStdString());
    EXPECT_EQ(messages.texts, QStringList{"Not Korvo disk."});

    window.setImageChooser([] { return QString(); });
    drives.setCurrentIndex(drives.count() - 1);
    emit drives.activated(drives.count() - 1);
    EXPECT_EQ(drives.currentText(), image);
    EXPECT_EQ(messages.texts.size(), 1);
}

TEST(DriveListTest, OpenedImagesAreOfferedAgainAlsoUnpluggedButNotOnesThatFailed) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    setPreferenceFile(folder.filePath("korvowav.ini"));
    test::DiskFixture layout(kFamilyKrv);
    layout.addSong(test::songEntry(0, "SONG"));
    const QString good = folder.filePath("good.img");
    if (!test::copyFolderToImage(layout.root(), good.toStdString())) {
        GTEST_SKIP() << "the FAT image file system cannot lay out a recorder disk";
    }
    const QString bad = folder.filePath("bad.img");
    struct Silent : IMessageBox {
        void show(QWidget*, const QString& text) override { texts << text; }
        QStringList texts;
    } messages;
    {
        CKorvoWavDlg window(&messages);
        for (const QString& image : {good, bad}) {
            window.setImageChooser([image] { return image; });
            window.openButton()->click();
        }
        EXPECT_EQ(messages.texts, QStringList{"Not Korvo disk."});
    }
    // The good image's disk is unplugged; its place in the list stays.
    ASSERT_TRUE(QFile::rename(good, folder.filePath("elsewhere.img")));
    CKorvoWavDlg window(&messages);
    EXPECT_GE(window.driveCombo()->findText(good), 0);
    EXPECT_LT(window.driveCombo()->findText(bad), 0);
    EXPECT_EQ(messages.texts.size(), 1);
}

}  // namespace
}  // namespace korvo
