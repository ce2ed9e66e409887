#include <QApplication>
#include <QWindow>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "controls/PopupEdit.h"

namespace korvo {
namespace {

struct CountingVerifier : IPopup::IVerifier {
    bool verify(IPopup& popup) override {
        ++calls;
        seen = static_cast<QLineEdit*>(popup.window())->text();
        return accept;
    }
    bool accept = true;
    int calls = 0;
    QString seen;
};

class PopupEditTest : public testing::Test {
protected:
    void SetUp() override {
        dialog.resize(400, 300);
        other = new QPushButton("other", &dialog);
        other->move(200, 200);
        QObject::connect(other, &QPushButton::clicked, [this] { ++otherClicks; });
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }

    // Runs the popup over a 60 x 18 rectangle of the dialog while `drive` acts on it.
    int run(CPopupEdit& popup, std::function<void()> drive) {
        QTimer::singleShot(0, &dialog, [drive] { drive(); });
        return popup.popup(screenRect(), &dialog);
    }
    QRect screenRect() const { return QRect(dialog.mapToGlobal(QPoint(20, 20)), QSize(60, 18)); }
    static void later(std::function<void()> action) { QTimer::singleShot(0, action); }

    QDialog dialog;
    QPushButton* other = nullptr;
    int otherClicks = 0;
};

TEST_F(PopupEditTest, EnterCommitsTheTypedTextAndEscapeCancels) {
    CPopupEdit popup;
    popup.setPopupText("OLD");
    const int code = run(popup, [&] {
        EXPECT_TRUE(popup.isVisible());
        EXPECT_EQ(popup.selectedText(), "OLD");  // the whole text is selected at first
        QTest::keyClicks(&popup, "VOCAL");
        QTest::keyClick(&popup, Qt::Key_Return);
    });
    EXPECT_EQ(code, IPopup::kCommitted);
    EXPECT_EQ(popup.popupText(), "VOCAL");
    EXPECT_TRUE(popup.changed());
    EXPECT_FALSE(popup.isVisible());

    CPopupEdit cancelled;
    cancelled.setPopupText("KEEP");
    EXPECT_EQ(run(cancelled, [&] { QTest::keyClick(&cancelled, Qt::Key_Escape); }),
              IPopup::kCancelled);
    EXPECT_FALSE(cancelled.changed());
    EXPECT_EQ(cancelled.popupText(), "KEEP");
}

TEST_F(PopupEditTest, RefusingVerifierKeepsTheEditorOpenUntilEscape) {
    CountingVerifier verifier;
    verifier.accept = false;
    CPopupEdit popup(&verifier);
    popup.setPopupText("ABC");
    bool openAfterRefusal = false;
    const int code = run(popup, [&] {
        QTest::keyClick(&popup, Qt::Key_Return);
        later([&] {
            openAfterRefusal = popup.running() && popup.isVisible();
            QTest::keyClick(&popup, Qt::Key_Escape);
        });
    });
    EXPECT_TRUE(openAfterRefusal);
    EXPECT_EQ(code, IPopup::kCancelled);
    EXPECT_EQ(verifier.calls, 1);  // Escape does not ask
    EXPECT_EQ(verifier.seen, "ABC");
    EXPECT_EQ(popup.popupText(), "ABC");
}

TEST_F(PopupEditTest, AfterARefusalShownInAMessageBoxTheKeyboardEditsAgain) {
    // Refuses with a real message box, as the window's verifier does.
    struct MessageVerifier : IPopup::IVerifier {
        bool verify(IPopup& popup) override {
            QMessageBox box(QMessageBox::Warning, "", "refused", QMessageBox::Ok, popup.window());
            QTimer::singleShot(20, &box, &QMessageBox::accept);
            box.exec();
            return false;
        }
    } verifier;
    CPopupEdit popup(&verifier);
    popup.setPopupText("ABC");
    QString afterBackspace;
    const int code = run(popup, [&] {
        popup.deselect();
        popup.setCursorPosition(3);
        QTest::keyClick(&popup, Qt::Key_Return);
        later([&] {
            // Typed keys go where the keyboard focus is, as a real key press does, once the
            // window system has settled after the message box.
            (void)QTest::qWaitFor([] { return QGuiApplication::focusWindow() != nullptr; }, 1000);
            if (QWindow* focused = QGuiApplication::focusWindow(); focused != nullptr) {
                QTest::keyClick(focused, Qt::Key_Backspace);
            }
            afterBackspace = popup.text();
            QTest::keyClick(&popup, Qt::Key_Escape);
        });
    });
    EXPECT_EQ(code, IPopup::kCancelled);
    EXPECT_EQ(afterBackspace, "AB");
}

TEST_F(PopupEditTest, ClickOutsideCommitsOrCancelsAndNeverReachesTheWindowBelow) {
    CountingVerifier verifier;
    CPopupEdit popup(&verifier);
    popup.setPopupText("X");
    EXPECT_EQ(run(popup, [&] { QTest::mouseClick(other, Qt::LeftButton); }), IPopup::kCommitted);
    EXPECT_EQ(verifier.calls, 1);

    CPopupEdit right(&verifier);
    EXPECT_EQ(run(right, [&] { QTest::mouseClick(other, Qt::RightButton); }), IPopup::kCancelled);
    EXPECT_EQ(verifier.calls, 1);

    verifier.accept = false;
    CPopupEdit refused(&verifier);
    const int code = run(refused, [&] {
        QTest::mouseClick(other, Qt::LeftButton);
        later([&] { QTest::keyClick(&refused, Qt::Key_Escape); });
    });
    EXPECT_EQ(code, IPopup::kCancelled);
    EXPECT_EQ(verifier.calls, 2);
    EXPECT_EQ(otherClicks, 0);
}

TEST_F(PopupEditTest, WidthFollowsTheTextButNeverBelowTheControl) {
    CPopupEdit popup;
    int narrow = 0;
    int wide = 0;
    int left = 0;
    int after = 0;
    run(popup, [&] {
        narrow = popup.width();
        left = popup.geometry().left();
        QTest::keyClicks(&popup, "A MUCH LONGER NAME THAN THE BUTTON");
        wide = popup.width();
        EXPECT_EQ(popup.geometry().left(), left);  // grows to the right
        popup.clear();
        after = popup.width();
        QTest::keyClick(&popup, Qt::Key_Escape);
    });
    EXPECT_EQ(narrow, 60);
    EXPECT_GT(wide, 60);
    EXPECT_EQ(after, 60);
    EXPECT_EQ(left, screenRect().left());
}

TEST_F(PopupEditTest, InputToTheParentIsHeldBackAndAnEmptyRectangleFails) {
    CPopupEdit popup;
    run(popup, [&] {
        QTest::keyClick(other, Qt::Key_Space);  // would click the button
        QTest::keyClick(&popup, Qt::Key_Escape);
    });
    EXPECT_EQ(otherClicks, 0);

    CPopupEdit failed;
    failed.setPopupText("SAME");
    EXPECT_EQ(failed.popup(QRect(), &dialog), IPopup::kFailed);
    EXPECT_EQ(failed.popupText(), "SAME");
}

}  // namespace
}  // namespace korvo
