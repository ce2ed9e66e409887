#pragma once
// How the window tells the user something: a modal message box with the text, an OK button and
// the warning icon, captioned with the application's name. Everything the window shows goes
// through IMessageBox, so that tests can record the messages instead of showing them.

#include <QString>

class QWidget;

namespace korvo {

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Shows the text over owner and returns when the user closed the box.
    virtual void show(QWidget* owner, const QString& text) = 0;
};

class CMessageBox : public IMessageBox {
public:
    void show(QWidget* owner, const QString& text) override;
};

}  // namespace korvo
