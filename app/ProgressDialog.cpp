#include "app/ProgressDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

namespace korvo {

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
