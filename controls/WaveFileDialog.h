#pragma once
// The wave file dialogs of import and export, each with a property pane below the standard
// controls. The open dialog shows the chosen wave's sampling frequency and channel count, the
// room its audio takes on the recorder disk and the recorder disk's free space; the save dialog
// shows the size of the wave file to be written and the free space of the chosen folder.
// Switching the save dialog's type changes the file name's extension. Both remember folder,
// file name and filter under "Preferece".
//
//   CWaveFileSaveDialog dialog(&facts, window);
//   dialog.setTrackCount(selection.size());
//   if (dialog.run() == QDialog::Accepted)
//       converter.setOutputWave(path(dialog.chosenPath()), dialog.fileType());

#include <QString>

#include <array>

#include "controls/ConversionFacts.h"
#include "controls/FileDlg.h"

class QLabel;

namespace korvo {

// The file types in the order of the dialogs' filter rows; the file type of a row is its
// number less one.
struct WaveFileTypeRow {
    const char* name;
    const char* extension;
};
inline constexpr std::array<WaveFileTypeRow, 3> kWaveFileTypeRows = {{
    {"Windows RIFF Wave", ".wav"},
    {"Apple AIFF Wave", ".aif"},
    {"All Files", ".*"},  // offered only by the open dialog
}};
// The save dialog's third row: FLAC, written through the conversion front.
inline constexpr WaveFileTypeRow kFlacFileTypeRow = {"FLAC", ".flac"};

class CWaveFileDialog : public CFileDlg {
    Q_OBJECT

public:
    // Value fields of the panes.
    enum Field { kSamplingFrequency, kChannelCount, kConvertSize, kDriveFreeSpace };

    // The number of virtual tracks the file comes from or goes to (1 until set).
    void setTrackCount(int count) { trackCount_ = count; }
    int trackCount() const { return trackCount_; }
    // The text of a pane field; empty for a field the pane does not have.
    QString fieldText(Field field) const;

protected:
    CWaveFileDialog(IConversionFacts* facts, QWidget* parent, AcceptMode mode,
                    const QStringList& filters);

    QLabel* addField(QWidget* pane, int row, const char* label, Field field);
    void setField(Field field, const QString& text);

    IConversionFacts* facts_;
    int trackCount_ = 1;
    std::array<QLabel*, 4> fields_{};
};

class CWaveFileOpenDialog : public CWaveFileDialog {
    Q_OBJECT

public:
    CWaveFileOpenDialog(IConversionFacts* facts, QWidget* parent = nullptr);
    // Why the selected file cannot be imported; empty when nothing speaks against it.
    QString problemText() const;

private:
    void selectionChanged(const QString& path);

    QLabel* problem_ = nullptr;
};

class CWaveFileSaveDialog : public CWaveFileDialog {
    Q_OBJECT

public:
    CWaveFileSaveDialog(IConversionFacts* facts, QWidget* parent = nullptr);
    // The file type of the chosen filter row (kWaveTypeRiff, kWaveTypeAiff or kWaveTypeFlac).
    int fileType() const { return filterIndex() - 1; }

private:
    void folderChanged(const QString& folder);
    // The folder part of a typed name decides whose free space shows.
    void nameChanged(const QString& name);
    void typeChanged();

    QString shownFolder_;
};

}  // namespace korvo
