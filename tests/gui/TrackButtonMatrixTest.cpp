#include <QDialog>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

#include "controls/Artwork.h"
#include "controls/TrackButtonMatrix.h"

namespace korvo {
namespace {

struct RecordingCommander : CTrackButton::ICommander {
    void notify(CTrackButton& button) override {
        notified.push_back(button.columnIndex() + 8 * button.rowIndex());
        selectedWhenNotified.push_back(button.isSelected());
    }
    std::vector<int> notified;
    std::vector<bool> selectedWhenNotified;
};

struct RecordingTitleModifier : CTrackButton::ITitleModifier {
    void modify(CTrackButton& button) override {
        asked.push_back(button.columnIndex() + 8 * button.rowIndex());
        hadFocus.push_back(button.hasFocus());
    }
    std::vector<int> asked;
    std::vector<bool> hadFocus;
};

class TrackButtonMatrixTest : public testing::Test {
protected:
    void SetUp() override {
        dialog.resize(600, 300);
        defaultButton = new QPushButton("OK", &dialog);
        defaultButton->setDefault(true);
        defaultButton->move(500, 250);
        QObject::connect(defaultButton, &QPushButton::clicked, [this] { ++defaultPresses; });
        matrix.attach(&dialog, &commander, &titleModifier);
        for (int i = 0; i < matrix.count(); ++i) {
            CTrackButton* button = matrix.button(i);
            button->move(10 + (i / 8) * 60, 10 + (i % 8) * 20);
        }
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }

    CTrackButton& at(int index) { return *matrix.button(index); }
    QImage faceImage(TrackFace face) {
        return trackButtonFace(face).toImage().convertToFormat(QImage::Format_RGB32);
    }
    QImage drawn(CTrackButton& button) {
        return button.grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    QDialog dialog;
    QPushButton* defaultButton = nullptr;
    int defaultPresses = 0;
    RecordingCommander commander;
    RecordingTitleModifier titleModifier;
    CTrackButtonMatrix matrix{8, 8};
};

TEST_F(TrackButtonMatrixTest, EntriesAreNumberedColumnFirstWithOneSharedFont) {
    EXPECT_EQ(matrix.count(), 64);
    EXPECT_EQ(at(10).columnIndex(), 2);
    EXPECT_EQ(at(10).rowIndex(), 1);
    EXPECT_EQ(matrix.button(64), nullptr);
    EXPECT_EQ(matrix.button(-1), nullptr);
    EXPECT_EQ(at(0).size(), trackButtonFaceSize());
    EXPECT_EQ(at(0).font(), matrix.font());
    EXPECT_EQ(at(63).font(), matrix.font());
}

TEST_F(TrackButtonMatrixTest, ClickTogglesAndNotifiesAfterTheToggle) {
    QTest::mouseClick(&at(9), Qt::LeftButton);
    EXPECT_TRUE(at(9).isSelected());
    QTest::mouseClick(&at(9), Qt::LeftButton);
    EXPECT_FALSE(at(9).isSelected());
    EXPECT_EQ(commander.notified, (std::vector<int>{9, 9}));
    EXPECT_EQ(commander.selectedWhenNotified, (std::vector<bool>{true, false}));
}

TEST_F(TrackButtonMatrixTest, DoubleClickTogglesTwiceWithTwoNotifications) {
    // What a widget receives for a double click: press, release, double click, release.
    QTest::mouseClick(&at(3), Qt::LeftButton);
    QTest::mouseDClick(&at(3), Qt::LeftButton);
    QTest::mouseRelease(&at(3), Qt::LeftButton);
    EXPECT_FALSE(at(3).isSelected());
    EXPECT_EQ(commander.notified.size(), 2u);
}

TEST_F(TrackButtonMatrixTest, SpaceTogglesOnceAndRightClickAsksForRenameWithFocus) {
    at(5).setFocus();
    QTest::keyClick(&at(5), Qt::Key_Space);
    EXPECT_TRUE(at(5).isSelected());
    EXPECT_EQ(commander.notified, (std::vector<int>{5}));

    QTest::mouseClick(&at(12), Qt::RightButton);
    EXPECT_EQ(titleModifier.asked, (std::vector<int>{12}));
    EXPECT_EQ(titleModifier.hadFocus, (std::vector<bool>{true}));
    EXPECT_FALSE(at(12).isSelected());
}

TEST_F(TrackButtonMatrixTest, EnterAsksForRenameAndDoesNotPressTheDefaultButton) {
    at(20).setFocus();
    QTest::keyClick(&at(20), Qt::Key_Return);
    QTest::keyClick(&at(20), Qt::Key_Enter);
    EXPECT_EQ(titleModifier.asked, (std::vector<int>{20, 20}));
    EXPECT_EQ(defaultPresses, 0);
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(TrackButtonMatrixTest, ArrowsMoveTheCaretWithoutWrapAround) {
    // Entry 0 is column 0, row 0: Left (previous row) and Up (previous column) stay put.
    at(0).setFocus();
    QTest::keyClick(&at(0), Qt::Key_Left);
    EXPECT_TRUE(at(0).hasFocus());
    QTest::keyClick(&at(0), Qt::Key_Up);
    EXPECT_TRUE(at(0).hasFocus());
    QTest::keyClick(&at(0), Qt::Key_Right);  // next row: entry 8
    EXPECT_TRUE(at(8).hasFocus());
    QTest::keyClick(&at(8), Qt::Key_Down);  // next column: entry 9
    EXPECT_TRUE(at(9).hasFocus());

    at(7).setFocus();  // column 7 is the last column: Down stays
    QTest::keyClick(&at(7), Qt::Key_Down);
    EXPECT_TRUE(at(7).hasFocus());
    at(63).setFocus();  // last row: Right stays
    QTest::keyClick(&at(63), Qt::Key_Right);
    EXPECT_TRUE(at(63).hasFocus());
    EXPECT_TRUE(commander.notified.empty());
}

TEST_F(TrackButtonMatrixTest, FaceFollowsDataSelectionAndPressedState) {
    defaultButton->setFocus();
    CTrackButton& button = at(30);
    EXPECT_EQ(drawn(button), faceImage(TrackFace::empty));
    button.setHasData(true);
    EXPECT_EQ(drawn(button), faceImage(TrackFace::data));
    button.setSelected(true);
    EXPECT_EQ(drawn(button), faceImage(TrackFace::dataSelected));
    button.setHasData(false);
    EXPECT_EQ(drawn(button), faceImage(TrackFace::emptySelected));
    button.setSelected(false);

    // Held down by the mouse: the selected picture, whatever the flag says. (The press also
    // gives the button the focus, so compare a pixel outside the focus rectangle.)
    QTest::mousePress(&button, Qt::LeftButton);
    button.setSelected(false);
    EXPECT_EQ(drawn(button).pixel(20, 1), faceImage(TrackFace::emptySelected).pixel(20, 1));
    EXPECT_NE(drawn(button).pixel(20, 1), faceImage(TrackFace::empty).pixel(20, 1));
    QTest::mouseRelease(&button, Qt::LeftButton);
    defaultButton->setFocus();
    EXPECT_EQ(drawn(button), faceImage(TrackFace::empty));
}

TEST_F(TrackButtonMatrixTest, TitleAndFocusRectangleAreDrawnOverTheFace) {
    defaultButton->setFocus();
    CTrackButton& button = at(40);
    button.setTitle("BASS");
    EXPECT_NE(drawn(button), faceImage(TrackFace::empty));
    button.setTitle("");
    button.setFocus();
    const QImage focused = drawn(button);
    EXPECT_NE(focused, faceImage(TrackFace::empty));
    // The focus rectangle lies 2 pixels inside the left edge.
    EXPECT_NE(focused.pixel(2, 8), faceImage(TrackFace::empty).pixel(2, 8));
}

TEST(ArtworkTest, FacesShareOneSizeAndUnknownNamesGiveNothing) {
    for (const TrackFace face : {TrackFace::empty, TrackFace::emptySelected, TrackFace::data,
                                 TrackFace::dataSelected}) {
        EXPECT_EQ(trackButtonFace(face).size(), trackButtonFaceSize());
    }
    for (const char* caption : {"CONVERT_WAVE_TO_Korvo", "CONVERT_Korvo_TO_WAVE"}) {
        for (const char face : {'U', 'D', 'F', 'X'}) {
            EXPECT_EQ(convertButtonFace(caption, face).size(), convertButtonFaceSize());
        }
    }
    EXPECT_TRUE(convertButtonFace("CONVERT_WAVE_TO_Korvo", 'Q').isNull());
    EXPECT_TRUE(convertButtonFace("OTHER", 'U').isNull());
    EXPECT_NE(convertButtonFace("CONVERT_WAVE_TO_Korvo", 'U').toImage(),
              convertButtonFace("CONVERT_WAVE_TO_Korvo", 'X').toImage());
}

}  // namespace
}  // namespace korvo
