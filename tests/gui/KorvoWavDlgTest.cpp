#include <QApplication>
#include <QAudioDevice>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/AboutDlg.h"
#include "app/ConvertButton.h"
#include "app/KorvoWavDlg.h"
#include "app/PreviewPlayer.h"
#include "app/ProgressDialog.h"
#include "app/TrackDrag.h"
#include "controls/Artwork.h"
#include "controls/Preferences.h"
#include "controls/WaveFileDialog.h"
#include "tests/gui/RecorderImage.h"
#include "tests/support/CliRunner.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/FatImages.h"
#include "tests/support/FaultyDiskFiles.h"
#include "volume/OpenDisk.h"
#include "wavefile/WaveFile.h"

namespace korvo {
namespace {

using test::DiskFixture;

struct RecordedMessages : IMessageBox {
    void show(QWidget* /*owner*/, const QString& text) override {
        texts.push_back(text);
        if (onShow) {
            onShow();
        }
    }
    bool ask(QWidget* /*owner*/, const QString& question) override {
        questions.push_back(question);
        return answer;
    }
    QStringList texts;
    QStringList questions;
    bool answer = false;
    std::function<void()> onShow;
};

// Acts on the first top-level widget of type T once it shows (a modal dialog or the popup).
template <typename T>
void whenShown(std::function<void(T&)> action, int triesLeft = 300) {
    QTimer::singleShot(5, [action, triesLeft] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* wanted = qobject_cast<T*>(widget); wanted != nullptr && wanted->isVisible()) {
                action(*wanted);
                return;
            }
        }
        if (triesLeft > 0) {
            whenShown<T>(action, triesLeft - 1);
        }
    });
}

void typeIntoPopup(const QString& text, Qt::Key finish = Qt::Key_Return) {
    whenShown<CPopupEdit>([text, finish](CPopupEdit& popup) {
        popup.selectAll();
        popup.insert(text);  // as typed, also for characters a key click cannot make
        QTest::keyClick(&popup, finish);
    });
}

std::array<std::string, kVirtualTracks> namedTracks() {
    std::array<std::string, kVirtualTracks> names;
    for (int v = 0; v < kVirtualTracks; ++v) {
        names[v] = "TR" + std::to_string(v);
    }
    names[12] = "EIGHTCHR";  // a full-length name
    return names;
}

class KorvoWavDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        setPreferenceFile(folder.filePath("korvowav.ini"));
    }
    std::unique_ptr<CKorvoWavDlg> makeWindow() {
        auto window = std::make_unique<CKorvoWavDlg>(&messages);
        window->show();
        return window;
    }
    static CTrackButton& button(CKorvoWavDlg& window, int v) { return *window.matrix().button(v); }
    static void click(CKorvoWavDlg& window, int v) {
        QTest::mouseClick(&button(window, v), Qt::LeftButton);
    }
    // A KRV disk with two songs: song 0 holds audio on virtual tracks 0 and 9, song 1 on 20.
    std::unique_ptr<DiskFixture> twoSongDisk() {
        auto disk = std::make_unique<DiskFixture>(kFamilyKrv);
        disk->addSong(test::songEntry(0, "DEMO"));
        disk->addSong(test::songEntry(1, "SECOND", test::kRate44100, test::kDataTypeMt2));
        test::EventListDescription first;
        first.chains[0] = {test::takeEvent(0, 0, 300, 0x0002)};
        first.chains[9] = {test::takeEvent(9, 0, 500, 0x0003)};
        disk->setEvents(0, first);
        disk->addTake(0, 0x0002, test::patternBlocks(5, 300));
        disk->addTake(0, 0x0003, test::patternBlocks(5, 500));
        test::EventListDescription second;
        second.chains[20] = {test::takeEvent(20, 0, 100, 0x0004)};
        disk->setEvents(1, second);
        return disk;
    }
    // A KRV disk whose one song holds `blocks` blocks of audio on 2.2.
    static std::unique_ptr<DiskFixture> longDisk(std::uint32_t blocks) {
        auto disk = std::make_unique<DiskFixture>(kFamilyKrv);
        disk->addSong(test::songEntry(0, "LONG"));
        test::EventListDescription events;
        events.chains[9] = {test::takeEvent(9, 0, blocks, 0x0002)};
        disk->setEvents(0, events);
        disk->addTake(0, 0x0002, test::patternBlocks(5, blocks));
        return disk;
    }
    // Drags the track button past `distance` with the left button; the URLs a drop gets.
    static QList<QUrl> dragOut(CKorvoWavDlg& window, int v,
                               int distance = QApplication::startDragDistance() + 2) {
        QList<QUrl> urls;
        window.dragSource()->setDragRunner([&urls](QDrag& drag) {
            urls = drag.mimeData()->urls();
            return Qt::CopyAction;
        });
        const QPoint from(2, button(window, v).height() / 2);
        QTest::mousePress(&button(window, v), Qt::LeftButton, {}, from);
        QTest::mouseMove(&button(window, v), from + QPoint(distance, 0));
        QTest::mouseRelease(&button(window, v), Qt::LeftButton, {}, from + QPoint(distance, 0));
        return urls;
    }
    // A QMT disk (with names in its song file) of one song.
    std::unique_ptr<DiskFixture> namedDisk(std::uint8_t flags = test::kRate44100) {
        auto disk = std::make_unique<DiskFixture>(kFamilyQmt);
        disk->addSong(test::songEntry(0, "NAMES", flags));
        disk->setTrackNames(0, namedTracks());
        return disk;
    }

    QTemporaryDir folder;
    RecordedMessages messages;
};

TEST_F(KorvoWavDlgTest, StartsEmptyAndRestoresNoUnlistedFolderSilently) {
    writePreference(kPreferenceSection, kDriveKey, folder.filePath("not-mounted"));
    auto window = makeWindow();
    EXPECT_EQ(window->windowTitle(), "Korvo WAVE CONVERTER");
    EXPECT_TRUE(window->converter().rootPath().empty());
    EXPECT_FALSE(window->songCombo()->isEnabled());
    EXPECT_FALSE(window->importButton()->isEnabled());
    EXPECT_FALSE(window->exportButton()->isEnabled());
    EXPECT_FALSE(button(*window, 0).isEnabled());
    EXPECT_EQ(window->importButton()->currentFace(), 'X');
    EXPECT_EQ(window->noticeLabel()->text(), programCopyright());
    EXPECT_TRUE(window->converter().polarity());
    // The last row opens a disk image.
    EXPECT_EQ(window->driveCombo()->itemText(window->driveCombo()->count() - 1),
              "Open disk image...");
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(KorvoWavDlgTest, RememberedImageIsListedAndOpenedWithoutAMessage) {
    const QString image = folder.filePath("not-a-recorder.img");
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, '\0'));
    file.close();
    writePreference(kPreferenceSection, kDriveKey, image);
    {
        auto window = makeWindow();
        EXPECT_EQ(window->driveCombo()->currentText(), image);
        EXPECT_EQ(window->converter().rootPath(), image.toStdString());
        EXPECT_FALSE(window->songCombo()->isEnabled());
        EXPECT_TRUE(messages.texts.isEmpty());
        // Chosen by the user, the same disk shows its status.
        window->selectDisk(image);
        EXPECT_EQ(messages.texts, QStringList{"Not Korvo disk."});
    }
    EXPECT_EQ(readPreference(kPreferenceSection, kDriveKey), image);
}

TEST_F(KorvoWavDlgTest, DiskWithoutRecorderFilesOrSongsIsReported) {
    auto window = makeWindow();
    DiskFixture bare(kFamilyNone);
    window->selectDisk(QString::fromStdString(bare.root()));
    EXPECT_EQ(messages.texts, QStringList{"Not Korvo disk."});
    EXPECT_FALSE(window->songCombo()->isEnabled());
    EXPECT_EQ(window->songCombo()->count(), 0);
    EXPECT_FALSE(button(*window, 5).isEnabled());
    EXPECT_FALSE(window->exportButton()->isEnabled());

    DiskFixture empty(kFamilyKrv);
    window->selectDisk(QString::fromStdString(empty.root()));
    EXPECT_EQ(messages.texts.last(), "No song");
    EXPECT_TRUE(window->songCombo()->isEnabled());
    EXPECT_EQ(window->songCombo()->count(), 0);
    EXPECT_FALSE(button(*window, 5).isEnabled());
    EXPECT_EQ(window->dataTypeEdit()->text(), "");
}

TEST_F(KorvoWavDlgTest, DiskAndSongChoiceRefreshTheView) {
    auto disk = twoSongDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    ASSERT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    QComboBox& songs = *window->songCombo();
    ASSERT_EQ(songs.count(), 2);
    EXPECT_EQ(songs.itemText(0), "  1: DEMO");
    EXPECT_EQ(songs.itemText(1), "  2: SECOND");
    EXPECT_EQ(songs.currentIndex(), 0);
    EXPECT_EQ(window->dataTypeEdit()->text(), "LV1");
    EXPECT_TRUE(button(*window, 0).hasData());
    EXPECT_TRUE(button(*window, 9).hasData());
    EXPECT_FALSE(button(*window, 20).hasData());
    EXPECT_EQ(button(*window, 10).title(), "2 - 3");
    EXPECT_TRUE(button(*window, 10).isEnabled());

    songs.setCurrentIndex(1);
    emit songs.activated(1);
    EXPECT_EQ(window->dataTypeEdit()->text(), "MT2");
    EXPECT_FALSE(button(*window, 0).hasData());
    EXPECT_TRUE(button(*window, 20).hasData());
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(KorvoWavDlgTest, SongThatCannotBeLoadedKeepsTheListButDisablesTheView) {
    auto disk = twoSongDisk();
    std::filesystem::remove(disk->hostPath(disk->songPath(1, "EVENTLS0.KRV")));
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    click(*window, 9);
    ASSERT_TRUE(window->exportButton()->isEnabled());

    QComboBox& songs = *window->songCombo();
    songs.setCurrentIndex(1);
    emit songs.activated(1);
    EXPECT_EQ(messages.texts, QStringList{"Failed to read song."});
    EXPECT_TRUE(songs.isEnabled());
    EXPECT_EQ(songs.count(), 2);
    EXPECT_FALSE(button(*window, 9).isEnabled());
    EXPECT_FALSE(button(*window, 9).hasData());
    EXPECT_EQ(button(*window, 9).title(), "");
    EXPECT_EQ(window->dataTypeEdit()->text(), "");
    EXPECT_FALSE(window->exportButton()->isEnabled());
    EXPECT_FALSE(window->importButton()->isEnabled());

    // Back on the first song, the kept selection enables the commands again.
    songs.setCurrentIndex(0);
    emit songs.activated(0);
    EXPECT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(button(*window, 9).isSelected());
    EXPECT_TRUE(window->exportButton()->isEnabled());
}

TEST_F(KorvoWavDlgTest, BlockWidthEightShowsNoDataType) {
    DiskFixture disk(kFamilyKrv);
    disk.addSong(test::songEntry(0, "RAW", test::kRate48000, 0));
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk.root()));
    ASSERT_TRUE(messages.texts.isEmpty());
    EXPECT_EQ(window->dataTypeEdit()->text(), "");
    EXPECT_TRUE(window->dataTypeEdit()->isEnabled());
}

TEST_F(KorvoWavDlgTest, SelectionKeepsTwoOfDifferentTracksAndHandsThemOverAscending) {
    auto disk = twoSongDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));

    // V.Track 3 then V.Track 5 of track 1: only the latter stays.
    click(*window, 2);
    click(*window, 4);
    EXPECT_EQ(window->selection(), (std::vector<int>{4}));
    EXPECT_FALSE(button(*window, 2).isSelected());
    EXPECT_TRUE(window->importButton()->isEnabled());

    // Tracks 1, 2 and 3 in turn: the oldest goes; the engine gets them ascending.
    click(*window, 17);
    click(*window, 8);
    EXPECT_EQ(window->selection(), (std::vector<int>{17, 8}));
    EXPECT_FALSE(button(*window, 4).isSelected());
    EXPECT_EQ(window->converter().selectedTracks(), (std::vector<std::uint8_t>{8, 17}));

    // The selection survives a change of song; the convert buttons follow it.
    QComboBox& songs = *window->songCombo();
    songs.setCurrentIndex(1);
    emit songs.activated(1);
    EXPECT_TRUE(button(*window, 17).isSelected());
    EXPECT_TRUE(window->exportButton()->isEnabled());
    click(*window, 17);
    click(*window, 8);
    EXPECT_TRUE(window->selection().empty());
    EXPECT_TRUE(window->converter().selectedTracks().empty());
    EXPECT_FALSE(window->exportButton()->isEnabled());
    EXPECT_FALSE(window->importButton()->isEnabled());
}

TEST_F(KorvoWavDlgTest, ConvertButtonsShowTheirFourFaces) {
    auto disk = twoSongDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    CConvertButton& import = *window->importButton();
    const auto drawn = [](CConvertButton& button) {
        return button.grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const auto face = [](const CConvertButton& button, char letter) {
        return convertButtonFace(button.caption(), letter)
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    EXPECT_EQ(drawn(import), face(import, 'X'));

    click(*window, 9);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->exitButton()->setFocus();
    EXPECT_EQ(import.currentFace(), 'U');
    EXPECT_EQ(drawn(import), face(import, 'U'));
    import.setFocus();
    EXPECT_EQ(import.currentFace(), 'F');
    EXPECT_EQ(drawn(import), face(import, 'F'));
    import.setDown(true);
    EXPECT_EQ(import.currentFace(), 'D');
    EXPECT_EQ(drawn(import), face(import, 'D'));
    import.setDown(false);
    EXPECT_EQ(window->exportButton()->caption(), "CONVERT_Korvo_TO_WAVE");
    EXPECT_EQ(import.caption(), "CONVERT_WAVE_TO_Korvo");
}

TEST_F(KorvoWavDlgTest, RenameCutsToEightCharactersAndStoresThemInTheSongFile) {
    auto disk = namedDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    ASSERT_EQ(button(*window, 5).title(), "TR5");

    typeIntoPopup("LONGNAME99");
    QTest::mouseClick(&button(*window, 5), Qt::RightButton);
    EXPECT_TRUE(messages.texts.isEmpty());
    EXPECT_EQ(button(*window, 5).title(), "LONGNAME");
    const auto songFile = disk->readFile(disk->songPath(0, "SONG.QMT"));
    ASSERT_TRUE(songFile);
    const std::string slot(reinterpret_cast<const char*>(songFile->data()) + 368 + 16 * 5, 9);
    EXPECT_EQ(slot, std::string("LONGNAME\0", 9));

    // Reloaded from the disk, the name is still there.
    window->selectDisk(QString::fromStdString(disk->root()));
    EXPECT_EQ(button(*window, 5).title(), "LONGNAME");
}

TEST_F(KorvoWavDlgTest, RenameToTheSameNameWritesNothing) {
    auto disk = namedDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    namespace fs = std::filesystem;
    const fs::path songFile = disk->hostPath(disk->songPath(0, "SONG.QMT"));
    const auto longAgo = fs::last_write_time(songFile) - std::chrono::hours(24 * 365);
    fs::last_write_time(songFile, longAgo);

    // The editor starts with the old title; committing it unchanged, or a longer text whose
    // first 8 characters are the old title, touches nothing.
    typeIntoPopup("TR7");
    button(*window, 7).setFocus();
    QTest::keyClick(&button(*window, 7), Qt::Key_Return);
    typeIntoPopup("EIGHTCHRS AND MORE");
    QTest::mouseClick(&button(*window, 12), Qt::RightButton);
    EXPECT_TRUE(messages.texts.isEmpty());
    EXPECT_EQ(fs::last_write_time(songFile), longAgo);
}

TEST_F(KorvoWavDlgTest, FailedRenameShowsTheMessageAndKeepsTheOldName) {
    auto disk = namedDisk();
    // The window's disk passes everything through, except that the next write fails.
    const std::unique_ptr<IDiskFiles> inner = openDiskFiles(disk->root(), {});
    test::FaultyDiskFiles faulty(*inner);
    auto window = makeWindow();
    window->converter().setDiskOpener([&faulty](const std::string&, const DiskOptions&) {
        return std::make_unique<test::DiskReference>(faulty);
    });
    window->selectDisk(QString::fromStdString(disk->root()));
    ASSERT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    const auto before = disk->readFile(disk->songPath(0, "SONG.QMT"));
    faulty.failWriteNumber(faulty.writesSeen() + 1);

    typeIntoPopup("NEW");
    QTest::mouseClick(&button(*window, 7), Qt::RightButton);
    EXPECT_EQ(messages.texts, QStringList{"Failed to write song."});
    EXPECT_EQ(button(*window, 7).title(), "TR7");
    EXPECT_EQ(window->converter().song()->name(7), "TR7");
    EXPECT_EQ(disk->readFile(disk->songPath(0, "SONG.QMT")), before);
    // The view was reloaded from the disk and still works.
    EXPECT_TRUE(button(*window, 7).isEnabled());
    EXPECT_EQ(button(*window, 12).title(), "EIGHTCHR");
}

TEST_F(KorvoWavDlgTest, RenameRefusesCharactersTheRecorderCannotShow) {
    auto disk = namedDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    const auto before = disk->readFile(disk->songPath(0, "SONG.QMT"));
    bool editorStayedOpen = false;
    messages.onShow = [&] {
        // The refusal leaves the editor open; the user then gives up with Escape.
        whenShown<CPopupEdit>([&](CPopupEdit& popup) {
            editorStayedOpen = popup.running();
            QTest::keyClick(&popup, Qt::Key_Escape);
        });
    };
    typeIntoPopup(QString::fromUtf8("Gr\xC3\xBC\xC3\x9F"));
    QTest::mouseClick(&button(*window, 3), Qt::RightButton);
    EXPECT_EQ(messages.texts, QStringList{"Can't display these characters on Korvo"});
    EXPECT_TRUE(editorStayedOpen);
    EXPECT_EQ(button(*window, 3).title(), "TR3");
    EXPECT_EQ(disk->readFile(disk->songPath(0, "SONG.QMT")), before);
}

TEST_F(KorvoWavDlgTest, RightButtonOnATrackRenamesOnlyAndTheBackgroundKeepsItsMenu) {
    auto disk = namedDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    // Counts and closes every menu that shows while the test runs.
    struct MenuCloser : QObject {
        MenuCloser() { qApp->installEventFilter(this); }
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (auto* menu = qobject_cast<QMenu*>(watched); menu && event->type() == QEvent::Show) {
                ++shown;
                QTimer::singleShot(0, menu, &QMenu::close);
            }
            return false;
        }
        int shown = 0;
    } menus;
    // Through the window system, where a right press also asks for a context menu.
    const auto rightClick = [&window](QPoint at) {
        QTest::mouseClick(window->windowHandle(), Qt::RightButton, {}, at);
    };
    CTrackButton& track = button(*window, 5);
    const QPoint onTrack = track.mapTo(window.get(), track.rect().center());
    typeIntoPopup("GONE", Qt::Key_Escape);
    rightClick(onTrack);
    typeIntoPopup("KEPT");
    rightClick(onTrack);
    QTest::qWait(100);
    EXPECT_EQ(menus.shown, 0);
    EXPECT_EQ(track.title(), "KEPT");

    rightClick(QPoint(2, 2));
    EXPECT_EQ(menus.shown, 1);
}

TEST_F(KorvoWavDlgTest, RenameInAProtectedSongIsRefusedWithoutTheEditor) {
    auto disk = namedDisk(test::kRate44100 | kProtectFlag);
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    bool editorOpened = false;
    whenShown<CPopupEdit>(
        [&](CPopupEdit& popup) {
            editorOpened = true;
            QTest::keyClick(&popup, Qt::Key_Escape);
        },
        20);
    QTest::mouseClick(&button(*window, 3), Qt::RightButton);
    EXPECT_EQ(messages.texts, QStringList{"Song protected."});
    QTest::qWait(150);
    EXPECT_FALSE(editorOpened);
}

TEST_F(KorvoWavDlgTest, ExportWritesTheChosenWaveWithProgress) {
    auto disk = twoSongDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    click(*window, 9);
    click(*window, 0);
    const QString target = folder.filePath("mix.aif");
    bool progressShown = false;
    whenShown<CWaveFileSaveDialog>([&](CWaveFileSaveDialog& dialog) {
        EXPECT_EQ(dialog.trackCount(), 2);
        dialog.selectNameFilter(dialog.nameFilters().at(1));
        dialog.fileNameBox()->setText(target);
        whenShown<CProgressDialog>([&](CProgressDialog& progress) {
            progressShown = progress.windowTitle() == "Processing...";
        });
        static_cast<QDialog&>(dialog).accept();
    });
    QTest::mouseClick(window->exportButton(), Qt::LeftButton);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    EXPECT_EQ(KorvoLib::Korvo::recognizeWaveFileType(target.toStdString()),
              KorvoLib::Korvo::kWaveTypeAiff);
    EXPECT_EQ(
        QFileInfo(target).size(),
        static_cast<qint64>(window->converter().neededHostBytes(KorvoLib::Korvo::kWaveTypeAiff)));
    EXPECT_TRUE(window->isEnabled());
    (void)progressShown;  // the run may be over before the timer looks
    EXPECT_TRUE(window->statusLine()->text().startsWith("Wrote mix.aif: 2 channels, 0.2 s."))
        << window->statusLine()->text().toStdString();
}

TEST_F(KorvoWavDlgTest, CancelInTheProgressWindowIsNoticedDuringALongExport) {
    auto disk = longDisk(20000);
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    click(*window, 9);
    const QString target = folder.filePath("long.wav");
    bool ownerDisabledDuringRun = false;
    whenShown<CWaveFileSaveDialog>([&](CWaveFileSaveDialog& dialog) {
        dialog.fileNameBox()->setText(target);
        // Runs at the first event handling inside the export, when the shown percent changes.
        QTimer::singleShot(0, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* progress = qobject_cast<CProgressDialog*>(widget)) {
                    ownerDisabledDuringRun = !window->isEnabled();
                    QTest::mouseClick(progress->cancelButton(), Qt::LeftButton);
                }
            }
        });
        static_cast<QDialog&>(dialog).accept();
    });
    QTest::mouseClick(window->exportButton(), Qt::LeftButton);
    EXPECT_TRUE(ownerDisabledDuringRun);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    EXPECT_TRUE(window->isEnabled());
    // A valid, shorter file: the header counts only the blocks written before the cancel.
    const qint64 full =
        static_cast<qint64>(window->converter().neededHostBytes(KorvoLib::Korvo::kWaveTypeRiff));
    EXPECT_EQ(KorvoLib::Korvo::recognizeWaveFileType(target.toStdString()),
              KorvoLib::Korvo::kWaveTypeRiff);
    // Export moves whole runs of blocks: what was written before the cancel is a small part.
    EXPECT_LT(QFileInfo(target).size(), full / 4);
    EXPECT_GT(QFileInfo(target).size(), 44);
    EXPECT_TRUE(
        window->statusLine()->text().startsWith("Export cancelled: kept a shorter long.wav of "))
        << window->statusLine()->text().toStdString();
}

TEST_F(KorvoWavDlgTest, UnreadableWaveAndUnwritableTargetShowTheirStatus) {
    auto disk = twoSongDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    click(*window, 3);

    const QString garbage = folder.filePath("garbage.wav");
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("RIFF and then nothing a wave file would hold");
    file.close();
    whenShown<CWaveFileOpenDialog>([garbage](CWaveFileOpenDialog& dialog) {
        dialog.selectFile(garbage);
        static_cast<QDialog&>(dialog).accept();
    });
    QTest::mouseClick(window->importButton(), Qt::LeftButton);
    EXPECT_EQ(messages.texts, QStringList{"Failed to read wave file."});
    EXPECT_FALSE(button(*window, 3).hasData());

    click(*window, 0);
    // No remembered file: the dialog would put it into the name box once its folder is read,
    // which may be after this test has typed its name.
    writePreference(kFileDialogSection, kFileKey, "");
    // A folder under the chosen name: nothing can be written there, and it must survive.
    const QString target = folder.filePath("taken.wav");
    ASSERT_TRUE(QDir(folder.path()).mkdir("taken.wav"));
    whenShown<CWaveFileSaveDialog>([target](CWaveFileSaveDialog& dialog) {
        dialog.fileNameBox()->setText(target);
        dialog.QDialog::accept();  // past the dialog's own look into the folder
    });
    QTest::mouseClick(window->exportButton(), Qt::LeftButton);
    ASSERT_EQ(messages.texts.size(), 2);
    EXPECT_EQ(messages.texts.last(), "Failed to write wave file.");
    EXPECT_TRUE(QFileInfo(target).isDir());
    EXPECT_TRUE(window->isEnabled());
}

TEST_F(KorvoWavDlgTest, CancelledOpenDialogChangesNothing) {
    auto disk = twoSongDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    click(*window, 30);
    whenShown<CWaveFileOpenDialog>([](CWaveFileOpenDialog& dialog) { dialog.reject(); });
    QTest::mouseClick(window->importButton(), Qt::LeftButton);
    EXPECT_TRUE(messages.texts.isEmpty());
    EXPECT_FALSE(button(*window, 30).hasData());
}

TEST_F(KorvoWavDlgTest, ImportIntoAnImageShowsTheNewTrackOrTheStatus) {
    auto layout = namedDisk();
    const std::string image = folder.filePath("recorder.img").toStdString();
    if (!test::copyFolderToImage(layout->root(), image)) {
        GTEST_SKIP() << "the FAT image file system cannot lay out a recorder disk (no folder "
                        "creation); import needs an image for its cluster chains";
    }
    const QString wave = folder.filePath("guitar.wav");
    ASSERT_TRUE(test::writePcmWave(wave.toStdString(), 1, 44100, 66150));
    const QString wrongRate = folder.filePath("fast.wav");
    ASSERT_TRUE(test::writePcmWave(wrongRate.toStdString(), 1, 48000, 72000));

    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(image));
    ASSERT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    click(*window, 3);

    const auto chooseFile = [](const QString& path) {
        whenShown<CWaveFileOpenDialog>([path](CWaveFileOpenDialog& dialog) {
            dialog.selectFile(path);
            static_cast<QDialog&>(dialog).accept();
        });
    };
    chooseFile(wrongRate);
    QTest::mouseClick(window->importButton(), Qt::LeftButton);
    EXPECT_EQ(messages.texts, QStringList{"Sampling frequency is not 44100Hz. Can't convert wave "
                                          "file to Korvo track."});
    EXPECT_EQ(messages.questions, QStringList{"This file is 48000 Hz, 16-bit. The song is 44100 "
                                              "Hz, 16-bit. Convert it while importing?"});
    EXPECT_FALSE(button(*window, 3).hasData());
    EXPECT_TRUE(window->isEnabled());

    chooseFile(wave);
    QTest::mouseClick(window->importButton(), Qt::LeftButton);
    EXPECT_EQ(messages.texts.size(), 1) << messages.texts.join("|").toStdString();
    EXPECT_TRUE(button(*window, 3).hasData());
    EXPECT_EQ(button(*window, 3).title(), "guitar");
    EXPECT_TRUE(window->isEnabled());

    // Converted when the user says yes: a 1.5 s file at 48000 Hz fills 1.5 s of the song.
    messages.answer = true;
    click(*window, 3);
    click(*window, 4);
    chooseFile(wrongRate);
    QTest::mouseClick(window->importButton(), Qt::LeftButton);
    EXPECT_EQ(messages.texts.size(), 1) << messages.texts.join("|").toStdString();
    EXPECT_EQ(messages.questions.size(), 2);
    EXPECT_TRUE(button(*window, 4).hasData());
    EXPECT_EQ(window->converter().song()->events().trackExtent(4).end, (66150u + 15) / 16);
}

TEST_F(KorvoWavDlgTest, DroppedWaveImportsExactlyWhatTheImportButtonImports) {
    auto layout = namedDisk();
    const std::string byButton = folder.filePath("button.img").toStdString();
    const std::string byDrop = folder.filePath("drop.img").toStdString();
    if (!test::copyFolderToImage(layout->root(), byButton) ||
        !test::copyFolderToImage(layout->root(), byDrop)) {
        GTEST_SKIP() << "the FAT image file system cannot lay out a recorder disk";
    }
    const QString wave = folder.filePath("pair.wav");
    ASSERT_TRUE(test::writePcmWave(wave.toStdString(), 2, 44100, 66150));
    {
        auto window = makeWindow();
        window->selectDisk(QString::fromStdString(byButton));
        click(*window, 3);
        click(*window, 8);
        whenShown<CWaveFileOpenDialog>([wave](CWaveFileOpenDialog& dialog) {
            dialog.selectFile(wave);
            static_cast<QDialog&>(dialog).accept();
        });
        QTest::mouseClick(window->importButton(), Qt::LeftButton);
        ASSERT_TRUE(button(*window, 8).hasData()) << messages.texts.join("|").toStdString();
    }
    {
        // The stereo file dropped on 2.1 while 1.4 is selected fills both.
        auto window = makeWindow();
        window->selectDisk(QString::fromStdString(byDrop));
        click(*window, 3);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(wave)});
        CTrackButton& target = button(*window, 8);
        const QPoint at = target.rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&target, &drop);
        ASSERT_TRUE(QTest::qWaitFor([&target] { return target.hasData(); }, 10000));
        EXPECT_EQ(window->selection(), (std::vector<int>{3, 8}));
        EXPECT_TRUE(window->statusLine()->text().startsWith("Imported pair.wav into 1.4 and 2.1"))
            << window->statusLine()->text().toStdString();
    }
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    // Both disks now hold the same audio and names on 1.4 and 2.1.
    const auto exported = [this](const std::string& image) {
        auto converter = test::converterOn(image, 0);
        converter->setSelectedTracks({3, 8});
        converter->computeExportRange();
        const std::string path = folder.filePath("check.wav").toStdString();
        converter->setOutputWave(path, KorvoLib::Korvo::kWaveTypeRiff);
        EXPECT_TRUE(converter->runExport());
        return std::make_pair(test::readWave(path).samples,
                              converter->song()->name(3) + "/" + converter->song()->name(8));
    };
    const auto viaButton = exported(byButton);
    EXPECT_FALSE(viaButton.first.empty());
    EXPECT_EQ(exported(byDrop), viaButton);
}

TEST_F(KorvoWavDlgTest, ExportAllWritesEveryTrackWithDataIntoItsOwnNamedFile) {
    auto disk = twoSongDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    click(*window, 20);
    ASSERT_TRUE(QDir(folder.path()).mkdir("all"));
    const QString target = folder.filePath("all");
    window->setFolderChooser([target] { return target; });
    QTest::mouseClick(window->exportAllButton(), Qt::LeftButton);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    const QStringList files = QDir(target).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files, (QStringList{"1.1 1 - 1.wav", "2.2 2 - 2.wav"}));
    // Mono, from block 0 to each track's own end.
    EXPECT_EQ(test::readWave(QDir(target).filePath(files[0]).toStdString()).samples.size(),
              300u * 16);
    EXPECT_EQ(test::readWave(QDir(target).filePath(files[1]).toStdString()).samples.size(),
              500u * 16);
    EXPECT_EQ(window->converter().selectedTracks(), (std::vector<std::uint8_t>{20}));
    EXPECT_TRUE(window->statusLine()->text().startsWith("Wrote 2 files into "));
}

TEST_F(KorvoWavDlgTest, DraggedTrackCarriesTheCommandLinesExportOfThatTrackAlone) {
    auto disk = twoSongDisk();
    QString dragged;
    {
        auto window = makeWindow();
        window->selectDisk(QString::fromStdString(disk->root()));
        click(*window, 0);
        click(*window, 9);
        const QList<QUrl> urls = dragOut(*window, 9);
        ASSERT_EQ(urls.size(), 1) << messages.texts.join("|").toStdString();
        dragged = urls[0].toLocalFile();
        EXPECT_EQ(QFileInfo(dragged).fileName(), "2.2 2 - 2.wav");
        // The press of a drag is no click: the pair stays selected.
        EXPECT_EQ(window->selection(), (std::vector<int>{0, 9}));
        EXPECT_TRUE(
            window->statusLine()->text().startsWith("Dragged out 2.2 2 - 2.wav: 1 channel"));
        const std::string byCli = folder.filePath("cli.wav").toStdString();
        const auto result = testing::runCli({"export", disk->root(), "--song", "1", "--track",
                                             "2.2", "--output", byCli, "--quiet"});
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(test::readHostFile(dragged.toStdString()), test::readHostFile(byCli));
    }
    EXPECT_FALSE(QFileInfo::exists(dragged));  // the window's temporary folder goes with it
}

TEST_F(KorvoWavDlgTest, ClicksAndDragsFromEmptyTracksSelectAndStartNoDrag) {
    auto disk = twoSongDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    EXPECT_TRUE(dragOut(*window, 1).isEmpty());  // no data
    EXPECT_TRUE(dragOut(*window, 9, QApplication::startDragDistance() - 2).isEmpty());
    EXPECT_EQ(window->selection(), (std::vector<int>{1, 9}));
    EXPECT_TRUE(window->dragFolder().isEmpty());
}

TEST_F(KorvoWavDlgTest, CancelledExportOfADragStartsNoDragAndKeepsNoFile) {
    auto disk = longDisk(20000);
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    // Runs at the first event handling inside the export, when the shown percent changes.
    QTimer::singleShot(0, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* progress = qobject_cast<CProgressDialog*>(widget)) {
                QTest::mouseClick(progress->cancelButton(), Qt::LeftButton);
            }
        }
    });
    EXPECT_TRUE(dragOut(*window, 9).isEmpty());
    EXPECT_EQ(window->statusLine()->text().toStdString(), "Export cancelled: nothing was dragged.");
    EXPECT_FALSE(
        QDirIterator(window->dragFolder(), QDir::Files, QDirIterator::Subdirectories).hasNext());
}

// Through the real drag and drop of a display (ctest runs it under Xvfb as gui_real_drag).
TEST_F(KorvoWavDlgTest, RealDragDroppedBackOnTheWindowImportsNothing) {
    if (QGuiApplication::platformName() != "xcb") {
        GTEST_SKIP() << "needs a display with real drag and drop";
    }
    auto disk = longDisk(4000);  // over a second: an import of it would be taken
    auto window = makeWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->selectDisk(QString::fromStdString(disk->root()));
    QWindow* handle = window->windowHandle();
    const QPoint from = button(*window, 9).mapTo(window.get(), QPoint(2, 4));
    const QPoint to = button(*window, 20).mapTo(window.get(), QPoint(4, 4));
    // The drag's own event loop runs inside the move below: drop on 3.5 until it is taken.
    bool ended = false;
    std::function<void()> drop = [&] {
        QTimer::singleShot(300, window.get(), [&] {
            if (!ended) {
                QTest::mouseMove(handle, to);
                QTest::mouseRelease(handle, Qt::LeftButton, {}, to);
                drop();
            }
        });
    };
    drop();
    QTest::mousePress(handle, Qt::LeftButton, {}, from);
    QTest::mouseMove(handle, from + QPoint(QApplication::startDragDistance() + 3, 0));
    ended = true;
    QTest::qWait(200);  // what the drop may have queued, and the drag's deletion
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    EXPECT_FALSE(button(*window, 20).hasData());
    EXPECT_EQ(window->statusLine()->text().toStdString(),
              "2.2 2 - 2.wav was not dropped anywhere.");
}

TEST_F(KorvoWavDlgTest, PlayingWithoutAnAudioOutputSaysSoAtOnce) {
    if (!QMediaDevices::audioOutputs().isEmpty()) {
        GTEST_SKIP() << "this machine has an audio output";
    }
    auto disk = twoSongDisk();
    auto window = makeWindow();
    window->selectDisk(QString::fromStdString(disk->root()));
    click(*window, 9);
    QTest::mouseClick(window->playButton(), Qt::LeftButton);
    EXPECT_EQ(messages.texts,
              QStringList{"No audio output found, so the tracks cannot be played here."});
    EXPECT_FALSE(window->player()->isPlaying());
    EXPECT_FALSE(button(*window, 9).isPlaying());
}

TEST_F(KorvoWavDlgTest, EnterDoesNothingEscapeEndsAndTheAboutBoxShowsTheVersion) {
    auto window = makeWindow();
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());
    QString version;
    whenShown<CAboutDlg>([&](CAboutDlg& about) {
        version = about.versionLabel()->text();
        about.accept();
    });
    window->aboutAction()->trigger();
    EXPECT_EQ(version, "Version " + programVersion());
    EXPECT_EQ(window->aboutAction()->text(), "&About Korvo WAVE CONVERTER...");
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace korvo
