#pragma once
// Keeps one copy of the program running per user: the first copy holds a lock file and listens
// on a local socket; a later copy finds the lock taken, asks the first copy through the socket
// to bring its window to the front, and ends.
//
//   CSingleCopy copy(CSingleCopy::defaultName(), CSingleCopy::defaultLockPath());
//   if (!copy.acquire()) { copy.askFirstToRaise(); return 0; }
//   QObject::connect(&copy, &CSingleCopy::raiseRequested, &window, [&] { bringToFront(); });

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace korvo {

class CSingleCopy : public QObject {
    Q_OBJECT

public:
    CSingleCopy(const QString& name, const QString& lockPath);
    ~CSingleCopy() override;

    // "<application name>-<user id>", and the lock file in the user's runtime folder.
    static QString defaultName();
    static QString defaultLockPath();

    // True when this is the first copy (the lock is now held and the socket listens).
    bool acquire();
    // Tells the first copy to come to the front; false when it could not be reached.
    bool askFirstToRaise();

signals:
    void raiseRequested();

private:
    QString name_;
    QLockFile lock_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace korvo
