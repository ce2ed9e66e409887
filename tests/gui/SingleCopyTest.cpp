#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include <unistd.h>

#include "app/SingleCopy.h"

namespace korvo {
namespace {

TEST(SingleCopyTest, SecondCopyRaisesTheFirstAndEndsAndTheLockGoesWithTheFirst) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString name = "korvowav-test-" + QString::number(QCoreApplication::applicationPid());
    const QString lock = folder.filePath("copy.lock");

    auto first = std::make_unique<CSingleCopy>(name, lock);
    ASSERT_TRUE(first->acquire());
    QSignalSpy raised(first.get(), &CSingleCopy::raiseRequested);

    CSingleCopy second(name, lock);
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(second.askFirstToRaise());
    EXPECT_TRUE(raised.wait(2000));
    EXPECT_EQ(raised.count(), 1);

    // Once the first copy has ended, the next start is the first copy again.
    first.reset();
    CSingleCopy third(name, lock);
    EXPECT_TRUE(third.acquire());
    CSingleCopy fourth(name, lock);
    EXPECT_FALSE(fourth.acquire());
}

TEST(SingleCopyTest, SecondCopyStillEndsWhenTheFirstCannotBeReached) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString lock = folder.filePath("copy.lock");
    QLockFile held(lock);
    ASSERT_TRUE(held.tryLock(0));  // a copy that never listens
    CSingleCopy second("korvowav-test-unreachable-" +
                           QString::number(QCoreApplication::applicationPid()),
                       lock);
    EXPECT_FALSE(second.acquire());
    EXPECT_FALSE(second.askFirstToRaise());
}

#ifdef KORVOWAV_GUI_PATH
// The program as a user starts it: a copy under a name of its own in a folder of its own, so
// that its preference file, lock and socket stay inside the test's folder.
class ProgramCopy {
public:
    explicit ProgramCopy(const QTemporaryDir& folder)
        : program_(folder.filePath("korvowav-twice")) {
        QFile::copy(KORVOWAV_GUI_PATH, program_);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_RUNTIME_DIR", folder.path());
        environment.insert("XDG_CONFIG_HOME", folder.path());
        environment.insert("TMPDIR", folder.path());  // where the local socket lives
        environment_ = environment;
    }
    const QString& program() const { return program_; }
    void start(QProcess& process) const {
        process.setProcessEnvironment(environment_);
        process.start(program_, {});
    }

private:
    QString program_;
    QProcessEnvironment environment_;
};

TEST(SingleCopyTest, StartingTheProgramTwiceLeavesOneCopyRunning) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const ProgramCopy copy(folder);
    ASSERT_TRUE(QFileInfo(copy.program()).isExecutable());
    const QString lock = folder.filePath("korvowav-twice-" + QString::number(::getuid()) + ".lock");

    QProcess first;
    copy.start(first);
    ASSERT_TRUE(first.waitForStarted(5000));
    for (int i = 0; i < 100 && !QFile::exists(lock); ++i) {
        QTest::qWait(50);
    }
    ASSERT_TRUE(QFile::exists(lock)) << "the first copy never took its lock";

    QProcess second;
    copy.start(second);
    ASSERT_TRUE(second.waitForStarted(5000));
    EXPECT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill();
    first.waitForFinished(5000);
}
#endif

}  // namespace
}  // namespace korvo
