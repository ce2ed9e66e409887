#pragma once
// A popup editor: a small bordered edit window shown over a control in which the user types a
// text, ending like a modal dialog, committed (Enter, or a left click outside) or cancelled
// (Escape, or a right click outside). A verifier supplied by the caller may refuse the text on
// commit; the editor then stays open. While it runs, input to the other windows is held back.
//
//   CPopupEdit popup(&verifier);
//   popup.setPopupText(button.title());
//   if (popup.popup(screenRect, &dialog) == IPopup::kCommitted) use(popup.popupText());

#include <QLineEdit>
#include <QRect>
#include <QString>

class QEventLoop;

namespace korvo {

class IPopup {
public:
    // Vets the text before the popup accepts it; reads it from the popup's window.
    class IVerifier {
    public:
        virtual ~IVerifier() = default;
        virtual bool verify(IPopup& popup) = 0;
    };

    enum EndCode : int { kFailed = -1, kCommitted = 1, kCancelled = 2 };

    virtual ~IPopup() = default;
    // The control's own window.
    virtual QWidget* window() = 0;
    // Shows the popup at rect (screen coordinates) over parent and runs until it ends.
    virtual int popup(const QRect& rect, QWidget* parent) = 0;

    // Before popup(): the initial text; afterwards the final text (also when cancelled).
    const QString& popupText() const { return text_; }
    void setPopupText(const QString& text) { text_ = text; }
    bool changed() const { return changed_; }
    const QRect& rect() const { return rect_; }
    IVerifier* verifier() const { return verifier_; }

protected:
    explicit IPopup(IVerifier* verifier) : verifier_(verifier) {}

    int kind_ = 0;
    QRect rect_;
    bool changed_ = false;
    IVerifier* verifier_ = nullptr;
    QString text_;
};

class CPopupEdit : public QLineEdit, public IPopup {
    Q_OBJECT

public:
    explicit CPopupEdit(IVerifier* verifier = nullptr);
    ~CPopupEdit() override;

    QWidget* window() override { return this; }
    int popup(const QRect& rect, QWidget* parent) override;
    // True while the popup runs.
    bool running() const { return loop_ != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Asks the verifier (if any); ends with kCommitted when it accepts. False when refused.
    bool commit();
    void end(int code);
    // Activates the editor's window and gives it the keyboard focus.
    void takeKeyboard();
    void fitWidth();
    bool ownsObject(QObject* object) const;

    QEventLoop* loop_ = nullptr;
    int endCode_ = kFailed;
    bool verifying_ = false;
};

}  // namespace korvo
