#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "app/ProgressDialog.h"

namespace korvo {
namespace {

class ProgressDialogTest : public testing::Test {
protected:
    void SetUp() override {
        owner.resize(400, 300);
        owner.show();
    }
    QString shown(const CProgressDlg& progress) { return progress.percentageLabel()->text(); }

    QDialog owner;
};

TEST_F(ProgressDialogTest, ShowsItsInitialStateAsOnePercentUntilTheFirstChange) {
    CProgressDialog progress;
    ASSERT_TRUE(progress.create("Processing...", &owner));
    EXPECT_EQ(progress.windowTitle(), "Processing...");
    EXPECT_EQ(shown(progress), "1%");
    EXPECT_EQ(progress.bar()->value(), 1);
    EXPECT_TRUE(progress.isVisible());
    EXPECT_FALSE(progress.isModal());
}

TEST_F(ProgressDialogTest, PercentagesOfAFiftyBlockRangeAndAnEmptyRange) {
    CProgressDialog progress;
    ASSERT_TRUE(progress.create("Processing...", &owner));
    KorvoLib::Korvo::IProgressUI& engineView = progress;
    engineView.begin(0, 50);
    EXPECT_EQ(progress.percentage(), 2);  // the first block already counts
    EXPECT_TRUE(engineView.step(0));
    EXPECT_EQ(progress.percentage(), 2);
    EXPECT_TRUE(engineView.step(24));
    EXPECT_EQ(shown(progress), "50%");
    EXPECT_TRUE(engineView.step(49));
    EXPECT_EQ(shown(progress), "100%");
    EXPECT_EQ(progress.bar()->value(), 100);

    engineView.begin(7, 7);
    EXPECT_TRUE(engineView.step(7));
    EXPECT_EQ(progress.percentage(), 100);
    engineView.setText("Writing");
    EXPECT_EQ(progress.windowTitle(), "Writing");
}

TEST_F(ProgressDialogTest, CancelOnlySetsTheFlagAndTheNextPercentChangeStops) {
    CProgressDialog progress;
    ASSERT_TRUE(progress.create("Processing...", &owner));
    KorvoLib::Korvo::IProgressUI& engineView = progress;
    engineView.begin(0, 1000);
    EXPECT_TRUE(engineView.step(5));
    EXPECT_EQ(shown(progress), "1%");

    QTest::mouseClick(progress.cancelButton(), Qt::LeftButton);
    EXPECT_TRUE(progress.isVisible());
    EXPECT_TRUE(progress.cancelled());
    // Within the same percent nothing is asked, so the run goes on ...
    EXPECT_TRUE(engineView.step(6));
    // ... and the step that crosses into the next percent answers stop, leaving the text alone.
    EXPECT_FALSE(engineView.step(10));
    EXPECT_EQ(shown(progress), "1%");
    EXPECT_TRUE(progress.isVisible());
}

TEST_F(ProgressDialogTest, EscapeAndClosingCancelButNothingClosesTheWindow) {
    CProgressDialog progress;
    ASSERT_TRUE(progress.create("Processing...", &owner));
    progress.accept();
    EXPECT_FALSE(progress.cancelled());
    EXPECT_TRUE(progress.isVisible());
    QTest::keyClick(&progress, Qt::Key_Return);
    EXPECT_TRUE(progress.isVisible());
    QTest::keyClick(&progress, Qt::Key_Escape);
    EXPECT_TRUE(progress.cancelled());
    EXPECT_TRUE(progress.isVisible());

    CProgressDialog other;
    ASSERT_TRUE(other.create("Processing...", &owner));
    other.close();
    EXPECT_TRUE(other.cancelled());
    EXPECT_TRUE(other.isVisible());
}

TEST_F(ProgressDialogTest, OwnerIsDisabledWhileTheWindowExistsAndEnabledAfter) {
    auto progress = std::make_unique<CProgressDialog>();
    ASSERT_TRUE(progress->create("Processing...", &owner));
    EXPECT_FALSE(owner.isEnabled());
    // The progress window itself stays usable while its owner is disabled.
    EXPECT_TRUE(progress->isEnabled());
    EXPECT_TRUE(progress->cancelButton()->isEnabled());
    progress.reset();
    EXPECT_TRUE(owner.isEnabled());

    // An owner that was already disabled is not enabled by the window.
    owner.setEnabled(false);
    progress = std::make_unique<CProgressDialog>();
    ASSERT_TRUE(progress->create("Processing...", &owner));
    progress.reset();
    EXPECT_FALSE(owner.isEnabled());
}

TEST_F(ProgressDialogTest, InputAimedAtCancelAsTheRunEndsDoesNotReachTheOwner) {
    auto* beneath = new QPushButton("beneath", &owner);
    beneath->setGeometry(150, 130, 100, 40);
    int clicks = 0;
    QObject::connect(beneath, &QPushButton::clicked, [&clicks] { ++clicks; });
    auto progress = std::make_unique<CProgressDialog>();
    ASSERT_TRUE(progress->create("Processing...", &owner));
    // The progress window's Cancel right over the owner's button.
    const QPoint target = beneath->mapToGlobal(beneath->rect().center());
    const QPoint cancel = progress->cancelButton()->mapToGlobal(
        progress->cancelButton()->rect().center());
    progress->move(progress->pos() + target - cancel);
    progress.reset();  // the run ended

    QTest::mouseClick(beneath, Qt::LeftButton);
    QTest::keyClick(&owner, Qt::Key_Escape);
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(owner.isVisible());

    QTest::qWait(700);
    QTest::mouseClick(beneath, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(ProgressDialogTest, StepHandlesWaitingEventsSoTheWindowRepaints) {
    CProgressDialog progress;
    ASSERT_TRUE(progress.create("Processing...", &owner));
    KorvoLib::Korvo::IProgressUI& engineView = progress;
    engineView.begin(0, 100);
    bool delivered = false;
    QMetaObject::invokeMethod(&progress, [&delivered] { delivered = true; }, Qt::QueuedConnection);
    EXPECT_TRUE(engineView.step(1));
    EXPECT_TRUE(delivered);
}

}  // namespace
}  // namespace korvo
