#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

#include "controls/GroupedDecimal.h"
#include "controls/Preferences.h"
#include "controls/WaveFileDialog.h"
#include "tests/support/Sox.h"

namespace korvo {
namespace {

// Answers from a table of "wave files" by path.
struct FakeFacts : IConversionFacts {
    std::optional<std::uint64_t> recorderFreeBytes() override { return recorderFree; }
    std::optional<std::uint64_t> folderFreeBytes(const std::string& folder) override {
        askedFolders.push_back(folder);
        return folderFree;
    }
    bool openInputWave(const std::string& path) override {
        const auto it = waves.find(path);
        if (it == waves.end()) {
            return false;
        }
        current = it->second;
        return true;
    }
    KorvoLib::Korvo::WaveFormat inputWave() const override { return current; }
    void computeImportRange() override { rangeComputed = true; }
    // 1000 bytes of recorder room per channel of the input file.
    std::uint64_t neededDiskBytes() const override { return 1000u * current.channels; }
    std::uint64_t neededHostBytes(int fileType) const override {
        return fileType == KorvoLib::Korvo::kWaveTypeRiff ? 44 + 64000 : 54 + 64000;
    }
    std::uint32_t songSampleRate() const override { return 44100; }

    std::optional<std::uint64_t> recorderFree = 123456789;
    std::optional<std::uint64_t> folderFree = 0;
    std::map<std::string, KorvoLib::Korvo::WaveFormat> waves;
    KorvoLib::Korvo::WaveFormat current;
    bool rangeComputed = false;
    std::vector<std::string> askedFolders;
};

class WaveFileDialogTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        setPreferenceFile(folder.filePath("korvowav.ini"));
        stereo = touch("stereo.wav");
        mono = touch("mono.wav");
        broken = touch("broken.wav");
        facts.waves[stereo.toStdString()] = {2, 44100, 88200};
        facts.waves[mono.toStdString()] = {1, 48000, 48000};
    }
    QString touch(const QString& name) {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return file.fileName();
    }
    static void closeSoon(QDialog& dialog, bool accept) {
        QTimer::singleShot(0, &dialog,
                           [&dialog, accept] { accept ? dialog.accept() : dialog.reject(); });
    }

    QTemporaryDir folder;
    FakeFacts facts;
    QString stereo, mono, broken;
};

TEST(GroupedDecimalTest, GroupsOfThreeFromTheRight) {
    EXPECT_EQ(groupedDecimal(0), "0");
    EXPECT_EQ(groupedDecimal(999), "999");
    EXPECT_EQ(groupedDecimal(1000), "1,000");
    EXPECT_EQ(groupedDecimal(1000001), "1,000,001");
    EXPECT_EQ(groupedDecimal(1234567), "1,234,567");
    EXPECT_EQ(groupedDecimal(18446744073709551615ull), "18,446,744,073,709,551,615");
}

TEST_F(WaveFileDialogTest, OpenPaneShowsTheWaveAndTheRoomForTheSelectedTracks) {
    CWaveFileOpenDialog dialog(&facts);
    EXPECT_EQ(dialog.nameFilters().size(), 3);
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kDriveFreeSpace), "123,456,789");

    // A stereo file into one virtual track needs half of its two-channel room.
    dialog.setTrackCount(1);
    emit dialog.currentChanged(stereo);
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kSamplingFrequency), "44100");
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kChannelCount), "2");
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kConvertSize), "1,000");
    EXPECT_TRUE(facts.rangeComputed);

    // A mono file into two virtual tracks needs twice its room.
    dialog.setTrackCount(2);
    emit dialog.currentChanged(mono);
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kSamplingFrequency), "48000");
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kConvertSize), "2,000");

    // An unreadable file, or a folder, only empties the three fields.
    emit dialog.currentChanged(broken);
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kSamplingFrequency), "");
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kChannelCount), "");
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kConvertSize), "");
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kDriveFreeSpace), "123,456,789");
    emit dialog.currentChanged(folder.path());
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kChannelCount), "");
}

TEST_F(WaveFileDialogTest, UnreadableFreeSpaceLeavesTheFieldEmptyAndZeroShowsZero) {
    facts.recorderFree.reset();
    CWaveFileOpenDialog open(&facts);
    EXPECT_EQ(open.fieldText(CWaveFileDialog::kDriveFreeSpace), "");

    CWaveFileSaveDialog save(&facts);
    EXPECT_EQ(save.fieldText(CWaveFileDialog::kDriveFreeSpace), "0");
    EXPECT_EQ(save.fieldText(CWaveFileDialog::kSamplingFrequency), "");  // not on this pane
}

TEST_F(WaveFileDialogTest, SaveTypeSwitchChangesTheExtensionAndTheConvertSize) {
    CWaveFileSaveDialog dialog(&facts);
    EXPECT_EQ(dialog.nameFilters().size(), 3);
    EXPECT_EQ(dialog.fileType(), KorvoLib::Korvo::kWaveTypeRiff);
    EXPECT_EQ(dialog.defaultSuffix(), "wav");
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kConvertSize), "64,044");
    dialog.show();
    QLineEdit* box = dialog.fileNameBox();
    ASSERT_NE(box, nullptr);
    box->setText("take1.wav");

    auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    EXPECT_EQ(types->itemText(0), "Windows RIFF Wave(*.wav)");
    EXPECT_EQ(types->itemText(1), "Apple AIFF Wave(*.aif)");
    QTest::keyClick(types, Qt::Key_Down);
    EXPECT_EQ(dialog.fileType(), KorvoLib::Korvo::kWaveTypeAiff);
    EXPECT_EQ(box->text(), "take1.aif");
    EXPECT_EQ(dialog.defaultSuffix(), "aif");
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kConvertSize), "64,054");

    EXPECT_EQ(types->itemText(2), "FLAC(*.flac)");
    QTest::keyClick(types, Qt::Key_Down);
    EXPECT_EQ(dialog.fileType(), KorvoLib::Korvo::kWaveTypeFlac);
    EXPECT_EQ(box->text(), "take1.flac");
    QTest::keyClick(types, Qt::Key_Up);

    box->setText("no extension");
    QTest::keyClick(types, Qt::Key_Up);
    EXPECT_EQ(box->text(), "no extension.wav");
    dialog.hide();
}

TEST_F(WaveFileDialogTest, RememberedFilterOutsideTheSaveRowsStartsWithTheFirst) {
    writePreference(kFileDialogSection, kFilterKey, "3");
    CWaveFileSaveDialog save(&facts);
    EXPECT_EQ(save.filterIndex(), 1);
    EXPECT_EQ(save.selectedNameFilter(), "Windows RIFF Wave(*.wav)");
    // The open dialog has a third row and takes it.
    CWaveFileOpenDialog open(&facts);
    EXPECT_EQ(open.filterIndex(), 3);

    writePreference(kFileDialogSection, kFilterKey, "2");
    CWaveFileSaveDialog aiff(&facts);
    EXPECT_EQ(aiff.fileType(), KorvoLib::Korvo::kWaveTypeAiff);
    EXPECT_EQ(aiff.defaultSuffix(), "aif");
}

TEST_F(WaveFileDialogTest, FolderFileAndFilterAreRememberedAlsoOnCancel) {
    QDir(folder.path()).mkdir("songs");
    const QString songs = QDir(folder.filePath("songs")).absolutePath();
    {
        CWaveFileSaveDialog dialog(&facts);
        dialog.setDirectory(songs);
        dialog.selectNameFilter(dialog.nameFilters().at(1));
        dialog.fileNameBox()->setText("mix.aif");
        closeSoon(dialog, false);
        EXPECT_EQ(dialog.run(), QDialog::Rejected);
    }
    EXPECT_EQ(readPreference(kFileDialogSection, kDirectoryKey), songs);
    EXPECT_EQ(readPreference(kFileDialogSection, kFileKey), "mix.aif");
    EXPECT_EQ(readPreference(kFileDialogSection, kFilterKey), "2");

    // The next dialog starts where the last one ended.
    CWaveFileOpenDialog next(&facts);
    EXPECT_EQ(next.directory().absolutePath(), songs);
    EXPECT_EQ(next.filterIndex(), 2);

    // An accepted open dialog stores the chosen file's name.
    next.setDirectory(folder.path());
    next.selectFile(mono);
    closeSoon(next, true);
    EXPECT_EQ(next.run(), QDialog::Accepted);
    EXPECT_EQ(next.chosenPath(), mono);
    EXPECT_EQ(readPreference(kFileDialogSection, kFileKey), "mono.wav");
    EXPECT_EQ(readPreference(kFileDialogSection, kDirectoryKey),
              QDir(folder.path()).absolutePath());
}

TEST_F(WaveFileDialogTest, SaveFolderChangeShowsThatFoldersFreeSpace) {
    CWaveFileSaveDialog dialog(&facts);
    facts.folderFree = 5000;
    emit dialog.directoryEntered(folder.path());
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kDriveFreeSpace), "5,000");
    EXPECT_EQ(facts.askedFolders.back(), folder.path().toStdString());
    facts.folderFree.reset();
    emit dialog.directoryEntered(folder.path());
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kDriveFreeSpace), "");
}

TEST_F(WaveFileDialogTest, TypedFolderPathShowsTheFreeSpaceOfThatFolder) {
    ASSERT_TRUE(QDir(folder.path()).mkdir("other"));
    const QString other = QDir(folder.filePath("other")).absolutePath();
    CWaveFileSaveDialog dialog(&facts);
    dialog.setDirectory(folder.path());
    facts.folderFree = 5000;
    dialog.fileNameBox()->setText(other + "/take.wav");
    EXPECT_EQ(facts.askedFolders.back(), other.toStdString());
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kDriveFreeSpace), "5,000");

    // A bare name goes back to the folder the dialog shows.
    facts.folderFree = 7000;
    dialog.fileNameBox()->setText("take.wav");
    EXPECT_EQ(facts.askedFolders.back(), QDir(folder.path()).absolutePath().toStdString());
    EXPECT_EQ(dialog.fieldText(CWaveFileDialog::kDriveFreeSpace), "7,000");
}

TEST_F(WaveFileDialogTest, OpenPaneSaysWhyAFileCannotBeImported) {
    if (!test::soxAvailable()) {
        GTEST_SKIP() << "sox is needed to write the files";
    }
    const std::vector<std::int16_t> audio(4410, 1000);
    const auto written = [&](const char* name, long rate, std::vector<std::string> options) {
        const std::string path = folder.filePath(name).toStdString();
        EXPECT_TRUE(test::soxWrite(path, 1, rate, audio, options));
        return QString::fromStdString(path);
    };
    CWaveFileOpenDialog dialog(&facts);
    const auto problemOf = [&dialog](const QString& path) {
        emit dialog.currentChanged(path);
        return dialog.problemText();
    };
    EXPECT_EQ(problemOf(written("deep.wav", 44100, {"-b", "24"})), "24-bit samples; 16-bit needed");
    EXPECT_EQ(problemOf(written("float.wav", 44100, {"-e", "floating-point", "-b", "32"})),
              "Compressed or floating-point samples (format 3); 16-bit PCM needed");
    EXPECT_EQ(problemOf(written("fast.aif", 48000, {"-b", "16"})),
              "48000 Hz; the song needs 44100 Hz");
    EXPECT_EQ(problemOf(written("fine.aif", 44100, {"-b", "16"})), "");
    EXPECT_EQ(problemOf(broken), "Not a WAV or AIFF file");
}

}  // namespace
}  // namespace korvo
