// A track dragged out through the platform's real drag and drop (X11 under Xvfb: ctest runs this
// suite once more as gui_real_drag); on the offscreen platform, whose drags end at once, it is
// skipped.
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include "app/KorvoWavDlg.h"
#include "controls/Preferences.h"
#include "tests/support/DiskFixture.h"
#include "tests/support/EngineFixture.h"

namespace korvo {
namespace {

struct Messages : IMessageBox {
    void show(QWidget* /*owner*/, const QString& text) override { texts << text; }
    bool ask(QWidget* /*owner*/, const QString& /*question*/) override { return false; }
    QStringList texts;
};

TEST(RealDragTest, TrackDroppedBackOnTheWindowIsNotImportedAndTheDragEnds) {
    if (QGuiApplication::platformName() != "xcb") {
        GTEST_SKIP() << "needs a display with real drag and drop";
    }
    QTemporaryDir folder;
    setPreferenceFile(folder.filePath("korvowav.ini"));
    // Long enough (over a second) that an import of it would be taken.
    test::DiskFixture disk(kFamilyKrv);
    disk.addSong(test::songEntry(0, "DRAG"));
    test::EventListDescription events;
    events.chains[9] = {test::takeEvent(9, 0, 4000, 0x0002)};
    disk.setEvents(0, events);
    disk.addTake(0, 0x0002, test::patternBlocks(5, 4000));
    Messages messages;
    CKorvoWavDlg window(&messages);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.selectDisk(QString::fromStdString(disk.root()));

    CTrackButton& source = *window.matrix().button(9);
    CTrackButton& target = *window.matrix().button(20);
    QWindow* handle = window.windowHandle();
    const QPoint from = source.mapTo(&window, QPoint(2, source.height() / 2));
    const QPoint to = target.mapTo(&window, target.rect().center());
    // The drag's own event loop runs inside the move below: drop on 3.5 from a timer, again
    // until the drag has taken the release.
    bool dragEnded = false;
    std::function<void()> dropOnTarget = [&] {
        QTimer::singleShot(300, &window, [&] {
            if (dragEnded) {
                return;
            }
            QTest::mouseMove(handle, to);
            QTest::mouseMove(handle, to + QPoint(1, 1));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, to + QPoint(1, 1));
            dropOnTarget();
        });
    };
    dropOnTarget();
    QTest::mousePress(handle, Qt::LeftButton, {}, from);
    QTest::mouseMove(handle, from + QPoint(QApplication::startDragDistance() + 3, 0));
    dragEnded = true;
    QTest::qWait(200);  // what the drop may have queued, and the drag's deletion

    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    EXPECT_FALSE(target.hasData());
    EXPECT_EQ(window.statusLine()->text().toStdString(), "2.2 2 - 2.wav was not dropped anywhere.");
}

}  // namespace
}  // namespace korvo
