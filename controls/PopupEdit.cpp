#include "controls/PopupEdit.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QStyle>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace korvo {

CPopupEdit::CPopupEdit(IVerifier* verifier) : IPopup(verifier) {
    kind_ = 0;
    connect(this, &QLineEdit::textEdited, this, [this] { changed_ = true; });
    connect(this, &QLineEdit::textChanged, this, [this] { fitWidth(); });
}

CPopupEdit::~CPopupEdit() {
    if (loop_ != nullptr) {
        loop_->exit();
    }
    qApp->removeEventFilter(this);
}

int CPopupEdit::popup(const QRect& rect, QWidget* parent) {
    if (loop_ != nullptr || rect.isEmpty()) {
        return kFailed;
    }
    QWidget* topLevel = parent != nullptr ? parent->window() : nullptr;
    QWidget* wasActive = QApplication::activeWindow();

    // A frameless tool window above the parent's window: it takes the keyboard while the
    // parent's window keeps its look; the event filter below holds back input to the parent.
    setParent(topLevel, Qt::Tool | Qt::FramelessWindowHint);
    endCode_ = kFailed;
    changed_ = false;
    rect_ = rect;
    if (parent != nullptr) {
        setFont(parent->font());
    }
    setFrame(true);
    QLineEdit::setText(text_);
    setGeometry(rect);
    fitWidth();
    selectAll();
    show();
    raise();
    activateWindow();
    setFocus(Qt::PopupFocusReason);

    qApp->installEventFilter(this);
    QEventLoop loop;
    loop_ = &loop;
    loop.exec(QEventLoop::DialogExec);
    loop_ = nullptr;
    qApp->removeEventFilter(this);

    const bool wasActivePopup = QApplication::activeWindow() == this;
    hide();
    if (wasActivePopup && topLevel != nullptr) {
        topLevel->activateWindow();
    } else if (wasActive != nullptr && wasActive != this) {
        wasActive->activateWindow();
    }
    text_ = QLineEdit::text();
    setParent(nullptr);
    return endCode_;
}

void CPopupEdit::end(int code) {
    endCode_ = code;
    if (loop_ != nullptr) {
        loop_->exit();
    }
}

bool CPopupEdit::commit() {
    if (verifier_ != nullptr) {
        verifying_ = true;
        const bool accepted = verifier_->verify(*this);
        verifying_ = false;
        if (!accepted) {
            // The verifier's message took the keyboard and, closing, left it nowhere; give it
            // back so that editing goes on, also once the window system has settled.
            if (loop_ != nullptr) {
                takeKeyboard();
                QTimer::singleShot(0, this, [this] {
                    if (loop_ != nullptr) {
                        takeKeyboard();
                    }
                });
            }
            return false;
        }
    }
    end(kCommitted);
    return true;
}

void CPopupEdit::takeKeyboard() {
    raise();
    activateWindow();
    setFocus(Qt::OtherFocusReason);
}

void CPopupEdit::keyPressEvent(QKeyEvent* event) {
    if (loop_ != nullptr) {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                event->accept();
                commit();
                return;
            case Qt::Key_Escape:
                event->accept();
                end(kCancelled);
                return;
            default:
                break;
        }
    }
    QLineEdit::keyPressEvent(event);
}

bool CPopupEdit::ownsObject(QObject* object) const {
    for (QObject* o = object; o != nullptr; o = o->parent()) {
        if (o == this) {
            return true;
        }
    }
    return false;
}

bool CPopupEdit::eventFilter(QObject* watched, QEvent* event) {
    if (loop_ == nullptr || verifying_ || !watched->isWidgetType() || ownsObject(watched)) {
        return false;
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            // A click outside the editor ends it: left commits (if the verifier agrees), right
            // cancels. The click itself never reaches the window below.
            const auto button = static_cast<QMouseEvent*>(event)->button();
            if (button == Qt::LeftButton) {
                commit();
            } else if (button == Qt::RightButton) {
                end(kCancelled);
            }
            return true;
        }
        case QEvent::MouseButtonRelease:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
            // The parent's window is out of reach while the editor runs.
            return true;
        default:
            return false;
    }
}

void CPopupEdit::fitWidth() {
    if (rect_.isEmpty()) {
        return;
    }
    const QFontMetrics metrics(font());
    const QMargins margins = textMargins();
    const int frame = hasFrame() ? 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
    const int wanted = margins.left() + margins.right() + frame +
                       metrics.horizontalAdvance(QLineEdit::text()) + metrics.maxWidth() + 4;
    const int width = std::max(wanted, rect_.width());
    QRect geometry(rect_.left(), rect_.top(), width, rect_.height());
    if ((alignment() & Qt::AlignRight) != 0) {
        geometry.moveRight(rect_.right());
    }
    setGeometry(geometry);
}

}  // namespace korvo
