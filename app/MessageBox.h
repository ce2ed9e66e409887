#pragma once
// How the window tells the user something: a modal message box with the text, an OK button and
// the warning icon, captioned with the application's name. Everything the window shows goes
// through IMessageBox, so that tests can record the messages instead of showing them.

#include <QString>
#include <QStringList>

class QWidget;

namespace korvo {

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Shows the text over owner and returns when the user closed the box.
    virtual void show(QWidget* owner, const QString& text) = 0;
    // A yes-or-no question; true for yes. Unless overridden, the answer is no.
    virtual bool ask(QWidget* /*owner*/, const QString& /*question*/) { return false; }
    // One of the items; its index, or -1 when the user cancels (the answer unless overridden).
    virtual int choose(QWidget* /*owner*/, const QString& /*text*/, const QStringList& /*items*/) {
        return -1;
    }
};

class CMessageBox : public IMessageBox {
public:
    void show(QWidget* owner, const QString& text) override;
    bool ask(QWidget* owner, const QString& question) override;
    int choose(QWidget* owner, const QString& text, const QStringList& items) override;
};

}  // namespace korvo
