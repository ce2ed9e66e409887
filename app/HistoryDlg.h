#pragma once
// The earlier versions of one virtual track: every history group of the song that placed take
// events on it, with the version's length and whether its takes are still on the disk. Export
// writes the chosen version into a wave file and Restore makes it the track's current version,
// through the same engine calls as the command line, with the progress window.
//
//   CHistoryDlg history(converter, virtualTrack, messages, &mainWindow);
//   history.exec();
//   if (history.restored()) refreshTheSong();

#include <QDialog>
#include <QString>
#include <functional>

#include "convert/TrackConverter.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace korvo {

class IMessageBox;

class CHistoryDlg : public QDialog {
    Q_OBJECT

public:
    CHistoryDlg(CTrackConverter& converter, int virtualTrack, IMessageBox& messages,
                QWidget* parent = nullptr);

    // Asks where to write an export (a file dialog unless replaced); empty: cancelled.
    void setPathChooser(std::function<QString()> chooser) { pathChooser_ = std::move(chooser); }

    QListWidget* versionList() const { return list_; }
    QPushButton* exportButton() const { return exportButton_; }
    QPushButton* restoreButton() const { return restoreButton_; }
    // The history group of each row of the list.
    const std::vector<std::uint16_t>& groups() const { return groups_; }
    bool restored() const { return restored_; }

    void exportVersion();
    void restoreVersion();

private:
    void fill();
    void rowChanged();
    std::uint16_t chosenGroup() const;
    bool chosenIsComplete() const;
    // The converter's status message over the dialog.
    void showStatus();

    CTrackConverter& converter_;
    int virtualTrack_;
    IMessageBox& messages_;
    std::function<QString()> pathChooser_;
    QLabel* heading_;
    QListWidget* list_;
    QPushButton* exportButton_;
    QPushButton* restoreButton_;
    std::vector<std::uint16_t> groups_;
    std::vector<bool> complete_;
    bool restored_ = false;
};

}  // namespace korvo
