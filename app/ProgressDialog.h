#pragma once
// The progress window shown while an export or import runs on the one user-interface thread.
// It is modeless and disables its owner while it exists, so that no second command can start
// while the events waiting in the queue are handled inside the engine's step call. Cancel (the
// button, Escape or closing the window) only sets the cancelled flag; the next step that
// changes the shown percentage answers false, and the window stays until its owner destroys it.
//
//   CProgressDialog progress;
//   if (progress.create("Processing...", &mainWindow)) {
//       converter.setProgress(&progress);
//       converter.runExport();
//   }   // destroying the window enables the owner again

#include <QDialog>
#include <QPointer>

#include "convert/ProgressUI.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace korvo {

class CProgressDlg : public QDialog, public KorvoLib::Korvo::CProgressUI {
    Q_OBJECT

public:
    CProgressDlg();
    ~CProgressDlg() override;

    // Disables the owner (parent, or the active window when none is given) if it was enabled,
    // shows the window and sets its title. False (owner enabled again) when it cannot be shown.
    bool create(const QString& text, QWidget* parent = nullptr);

    void setText(const std::string& text) override;
    std::string text() const override;

    QProgressBar* bar() const { return bar_; }
    QLabel* percentageLabel() const { return percentageLabel_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QWidget* owner() const { return owner_; }

    void accept() override {}
    void reject() override;

protected:
    void handleEvents() override;
    void refresh() override;
    void closeEvent(QCloseEvent* event) override;

private:
    QProgressBar* bar_;
    QLabel* percentageLabel_;
    QPushButton* cancelButton_;
    QPointer<QWidget> owner_;
    bool disabledOwner_ = false;
};

// The progress window as the engine's progress interface.
class CProgressDialog : public CProgressDlg, public KorvoLib::Korvo::IProgressUI {
    Q_OBJECT

public:
    CProgressDialog() = default;
    ~CProgressDialog() override = default;

    void begin(std::int32_t low, std::int32_t high) override { CProgressDlg::begin(low, high); }
    bool step(std::int32_t position) override { return CProgressDlg::step(position); }
    void setText(const std::string& text) override { CProgressDlg::setText(text); }
};

}  // namespace korvo
