#include "app/ProgressDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

namespace korvo {

namespace {

// How long after the progress window closes input meant for it is still held back.
constexpr int kAfterCloseGraceMs = 500;

// Held back for a short while after the progress window closed: clicks that land where it was
// and the keys that would have pressed its Cancel. A user aiming at Cancel as the run ends must
// not change the selection or end the window beneath.
class CLateInputGuard : public QObject {
public:
    CLateInputGuard(QWidget* owner, const QRect& area) : owner_(owner), area_(area) {
        qApp->installEventFilter(this);
        QTimer::singleShot(kAfterCloseGraceMs, this, &QObject::deleteLater);
    }
    ~CLateInputGuard() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || owner_.isNull() || widget->window() != owner_) {
            return false;
        }
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
                return area_.contains(
                    static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
            case QEvent::ContextMenu:
                return area_.contains(static_cast<QContextMenuEvent*>(event)->globalPos());
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride: {
                const int key = static_cast<QKeyEvent*>(event)->key();
                return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter ||
                       key == Qt::Key_Space;
            }
            default:
                return false;
        }
    }

private:
    QPointer<QWidget> owner_;
    QRect area_;
};

}  // namespace

CProgressDlg::CProgressDlg()
    : bar_(new QProgressBar(this)),
      percentageLabel_(new QLabel("0 %", this)),
      cancelButton_(new QPushButton("Cancel", this)) {
    // No parent widget: a window that is the child of its owner would be disabled with it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(false);
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);
    bar_->setObjectName("progressBar");
    percentageLabel_->setAlignment(Qt::AlignCenter);
    percentageLabel_->setObjectName("percentage");
    cancelButton_->setDefault(true);
    cancelButton_->setObjectName("cancel");
    connect(cancelButton_, &QPushButton::clicked, this, [this] { reject(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(percentageLabel_);
    layout->addWidget(bar_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    buttons->addStretch();
    layout->addLayout(buttons);
    setFixedWidth(300);
}

CProgressDlg::~CProgressDlg() {
    if (owner_ && isVisible()) {
        new CLateInputGuard(owner_, frameGeometry());
    }
    if (disabledOwner_ && owner_) {
        owner_->setEnabled(true);
    }
}

bool CProgressDlg::create(const QString& text, QWidget* parent) {
    owner_ = parent != nullptr ? parent->window() : QApplication::activeWindow();
    disabledOwner_ = false;
    if (owner_ && owner_->isEnabled()) {
        owner_->setEnabled(false);
        disabledOwner_ = true;
    }
    setWindowTitle(text);
    bar_->setRange(0, 100);
    refresh();
    if (owner_) {
        // Centred on the owner and kept above it.
        winId();
        if (QWindow* handle = windowHandle(); handle != nullptr && owner_->windowHandle()) {
            handle->setTransientParent(owner_->windowHandle());
        }
        adjustSize();
        move(owner_->geometry().center() - rect().center());
    }
    show();
    if (!isVisible()) {
        if (disabledOwner_ && owner_) {
            owner_->setEnabled(true);
        }
        disabledOwner_ = false;
        return false;
    }
    return true;
}

void CProgressDlg::setText(const std::string& text) {
    setWindowTitle(QString::fromStdString(text));
}

std::string CProgressDlg::text() const {
    return windowTitle().toStdString();
}

void CProgressDlg::reject() {
    setCancelled(true);
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    setCancelled(true);
    event->ignore();
}

void CProgressDlg::handleEvents() {
    QCoreApplication::processEvents();
}

void CProgressDlg::refresh() {
    const int percent = percentage();
    bar_->setValue(percent);
    percentageLabel_->setText(QString::asprintf("%d%%", percent));
}

}  // namespace korvo
