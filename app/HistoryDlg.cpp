#include "app/HistoryDlg.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/MessageBox.h"
#include "app/ProgressDialog.h"
#include "convert/StatusMessages.h"
#include "disk/DiskLayout.h"
#include "disk/Status.h"

namespace korvo {

namespace {

QString trackText(int v) {
    return QString("%1.%2").arg(trackOf(v)).arg(vtrackOf(v));
}

int waveTypeOf(const QString& path) {
    return path.endsWith(".aif", Qt::CaseInsensitive) || path.endsWith(".aiff", Qt::CaseInsensitive)
               ? KorvoLib::Korvo::kWaveTypeAiff
               : KorvoLib::Korvo::kWaveTypeRiff;
}

}  // namespace

CHistoryDlg::CHistoryDlg(CTrackConverter& converter, int virtualTrack, IMessageBox& messages,
                         QWidget* parent)
    : QDialog(parent),
      converter_(converter),
      virtualTrack_(virtualTrack),
      messages_(messages),
      heading_(new QLabel(this)),
      list_(new QListWidget(this)),
      exportButton_(new QPushButton("&Export...", this)),
      restoreButton_(new QPushButton("&Restore", this)) {
    setWindowTitle("History of " + trackText(virtualTrack));
    pathChooser_ = [this] {
        return QFileDialog::getSaveFileName(this, "Export earlier version", QString(),
                                            "Wave files (*.wav);;AIFF files (*.aif *.aiff)");
    };
    auto* close = new QPushButton("&Close", this);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(exportButton_, &QPushButton::clicked, this, &CHistoryDlg::exportVersion);
    connect(restoreButton_, &QPushButton::clicked, this, &CHistoryDlg::restoreVersion);
    connect(list_, &QListWidget::currentRowChanged, this, &CHistoryDlg::rowChanged);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(exportButton_);
    buttons->addWidget(restoreButton_);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(460, 300);
    fill();
}

void CHistoryDlg::fill() {
    list_->clear();
    groups_.clear();
    complete_.clear();
    const auto history = converter_.history();
    const CSong* song = converter_.song();
    if (history && song) {
        for (const HistoryGroup& group : history->groups()) {
            const auto events = group.takeEvents(virtualTrack_);
            if (events.empty()) {
                continue;
            }
            std::uint32_t end = 0;
            for (const EventRecord& event : events) {
                end = std::max(end, event.end);
            }
            const bool complete = group.unplayable(virtualTrack_).empty();
            const double seconds =
                song->sampleRate() ? end * double{kFramesPerBlock} / song->sampleRate() : 0.0;
            QString text = QString("Group %1    %2 s    %3")
                               .arg(group.number)
                               .arg(seconds, 0, 'f', 1)
                               .arg(complete ? "takes present" : "take missing");
            if (group.isCurrent(song->events(), virtualTrack_)) {
                text += "    (current)";
            }
            list_->addItem(text);
            groups_.push_back(group.number);
            complete_.push_back(complete);
        }
    }
    heading_->setText(
        groups_.empty() ? "The song keeps no earlier versions of " + trackText(virtualTrack_) + "."
                        : "Versions of " + trackText(virtualTrack_) + ", oldest first:");
    list_->setCurrentRow(static_cast<int>(groups_.size()) - 1);
    rowChanged();
}

void CHistoryDlg::rowChanged() {
    const bool chosen = list_->currentRow() >= 0;
    exportButton_->setEnabled(chosen);
    restoreButton_->setEnabled(chosen && chosenIsComplete());
}

std::uint16_t CHistoryDlg::chosenGroup() const {
    const int row = list_->currentRow();
    return row >= 0 && row < static_cast<int>(groups_.size()) ? groups_[row] : 0;
}

bool CHistoryDlg::chosenIsComplete() const {
    const int row = list_->currentRow();
    return row >= 0 && row < static_cast<int>(complete_.size()) && complete_[row];
}

void CHistoryDlg::exportVersion() {
    const std::uint16_t group = chosenGroup();
    if (group == 0) {
        return;
    }
    if (!chosenIsComplete()) {
        // As on the command line, silence stands in for a lost take only when asked for.
        messages_.show(this, QString("A take of group %1 is missing from the disk or too short. "
                                     "korvowav-cli export --group %1 --allow-missing exports "
                                     "it with silence in its place.")
                                 .arg(group));
        return;
    }
    const QString path = pathChooser_();
    if (path.isEmpty()) {
        return;
    }
    converter_.setSelectedTracks({static_cast<std::uint8_t>(virtualTrack_)});
    converter_.setOutputWave(path.toStdString(), waveTypeOf(path));
    bool exported = false;
    {
        CProgressDialog progress;
        if (progress.create("Processing...", this)) {
            converter_.setProgress(&progress);
            exported = converter_.runGroupExport(group, false);
            converter_.setProgress(nullptr);
        }
    }
    if (!exported) {
        showStatus();
    }
}

void CHistoryDlg::showStatus() {
    const std::string_view message = statusMessage(converter_.status());
    messages_.show(this, QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
}

void CHistoryDlg::restoreVersion() {
    const std::uint16_t group = chosenGroup();
    if (group == 0) {
        return;
    }
    bool done = false;
    {
        CProgressDialog progress;
        if (progress.create("Processing...", this)) {
            done = converter_.restoreGroup(virtualTrack_, group);
        }
    }
    if (!done) {
        showStatus();
        return;
    }
    restored_ = true;
    fill();
}

}  // namespace korvo
