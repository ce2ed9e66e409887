// One QApplication for the whole window test program, on the offscreen platform unless the
// caller chose another one.
#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The offscreen platform says so for every window it cannot resize or raise; keep the test
// output readable.
QtMessageHandler standardHandler = nullptr;

void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith("This plugin does not support") || text.startsWith("QStandardPaths:")) {
        return;
    }
    if (standardHandler != nullptr) {
        standardHandler(type, context, text);
    }
}

class GuiApplicationEnvironment : public testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        QCoreApplication::setApplicationName("korvowav");
        standardHandler = qInstallMessageHandler(quietMessages);
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "gui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

const testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new GuiApplicationEnvironment);

}  // namespace
