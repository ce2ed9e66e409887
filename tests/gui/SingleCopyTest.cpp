#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
}  // namespace korvo
