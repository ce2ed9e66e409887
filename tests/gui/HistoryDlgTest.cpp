// The window's History... button on the offscreen platform: the focused virtual track's
// earlier versions listed, one exported and one restored through the real engine.

#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

#include "app/HistoryDlg.h"
#include "app/KorvoWavDlg.h"
#include "app/MessageBox.h"
#include "controls/Preferences.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/EngineFixture.h"

namespace korvo {
namespace {

constexpr std::uint32_t kSecond = 44100 >> 4;

struct Messages : IMessageBox {
    void show(QWidget*, const QString& text) override { texts.push_back(text); }
    QStringList texts;
};

TEST(HistoryDlg, ListsTheFocusedTracksVersionsAndExportsAndRestoresOne) {
    QTemporaryDir folder;
    setPreferenceFile(folder.filePath("korvowav.ini"));
    test::DiskFixture disk(kFamilyKrv);
    disk.addSong(test::songEntry(0, "HISTORY"));
    const EventRecord first = test::takeEvent(9, 0, kSecond + 10, 0x0010);
    const EventRecord lost = test::takeEvent(9, 0, kSecond + 20, 0x0011);
    const EventRecord now = test::takeEvent(9, 0, kSecond + 30, 0x0012);
    test::EventListDescription events;
    events.history = {test::inGroup(first, 1), test::rangeRecord(9, 0, kSecond + 20, 2),
                      test::inGroup(lost, 2), test::rangeRecord(9, 0, kSecond + 30, 3),
                      test::inGroup(now, 3)};
    events.chains[9] = {now};
    disk.setEvents(0, events);
    disk.addTake(0, 0x0010, test::encodeBlocks(test::musicSignal(kSecond + 10, 1), 5));
    disk.addTake(0, 0x0012, test::encodeBlocks(test::musicSignal(kSecond + 30, 2), 5));

    Messages messages;
    CKorvoWavDlg window(&messages);
    window.show();
    window.selectDisk(QString::fromStdString(disk.root()));
    EXPECT_FALSE(window.historyButton()->isEnabled());
    QTest::mouseClick(window.matrix().button(9), Qt::LeftButton);
    ASSERT_TRUE(window.historyButton()->isEnabled());

    const QString wave = folder.filePath("first.wav");
    QStringList rows;
    bool restoreOfLostEnabled = true;
    window.setHistoryHook([&](CHistoryDlg& dialog) {
        dialog.setPathChooser([&] { return wave; });
        QTimer::singleShot(0, &dialog, [&] {
            for (int row = 0; row < dialog.versionList()->count(); ++row) {
                rows.push_back(dialog.versionList()->item(row)->text());
            }
            dialog.versionList()->setCurrentRow(1);
            restoreOfLostEnabled = dialog.restoreButton()->isEnabled();
            dialog.versionList()->setCurrentRow(0);
            QTest::mouseClick(dialog.exportButton(), Qt::LeftButton);
            QTest::mouseClick(dialog.restoreButton(), Qt::LeftButton);
            dialog.reject();
        });
    });
    EXPECT_EQ(window.historyButton()->shortcut(), QKeySequence("Ctrl+H"));
    QTest::mouseClick(window.historyButton(), Qt::LeftButton);

    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(rows[1].contains("take missing")) << rows[1].toStdString();
    EXPECT_TRUE(rows[2].contains("(current)")) << rows[2].toStdString();
    EXPECT_FALSE(restoreOfLostEnabled);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("; ").toStdString();
    const auto exported = test::readWave(wave.toStdString());
    ASSERT_TRUE(exported.ok);
    EXPECT_EQ(exported.samples.size(), (kSecond + 10) * 16u);
    // Restored: the window shows the song as reloaded, 2.2 playing take 0010 again.
    const CEventTable& table = window.converter().song()->events();
    ASSERT_EQ(table.chain(9).count, 1);
    EXPECT_EQ(table.slot(table.chain(9).head).firstCluster, 0x0010);
}

}  // namespace
}  // namespace korvo
