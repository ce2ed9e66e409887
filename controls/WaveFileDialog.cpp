#include "controls/WaveFileDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "controls/GroupedDecimal.h"
#include "controls/ImportProblem.h"
#include "controls/Preferences.h"
#include "wavefile/WaveFile.h"

namespace korvo {

namespace {

const CFileDlg::Settings kRemembered = {{kFileDialogSection, kDirectoryKey},
                                        {kFileDialogSection, kFileKey},
                                        {kFileDialogSection, kFilterKey}};

QString shownBytes(std::uint64_t bytes) {
    return QString::fromStdString(groupedDecimal(bytes));
}

QString shownBytes(const std::optional<std::uint64_t>& bytes) {
    return bytes ? shownBytes(*bytes) : QString();
}

QString rowLabel(const WaveFileTypeRow& row) {
    return QString(row.name) + "(*" + row.extension + ")";
}

// Rows as "name(*ext)" followed by the pattern that is really matched; the dialogs hide the
// pattern, so the rows read as they always have.
QStringList openFilters() {
    return {rowLabel(kWaveFileTypeRows[0]) + " (*.wav *.WAV)",
            rowLabel(kWaveFileTypeRows[1]) + " (*.aif *.aiff *.AIF *.AIFF)",
            rowLabel(kWaveFileTypeRows[2]) + " (*)"};
}

// The save dialog shows every file whatever the type.
QStringList saveFilters() {
    return {rowLabel(kWaveFileTypeRows[0]) + " (*)", rowLabel(kWaveFileTypeRows[1]) + " (*)",
            rowLabel(kFlacFileTypeRow) + " (*)"};
}

// The row of a save dialog's file type.
const WaveFileTypeRow& saveRow(int fileType) {
    return fileType == KorvoLib::Korvo::kWaveTypeFlac
               ? kFlacFileTypeRow
               : kWaveFileTypeRows[static_cast<std::size_t>(fileType)];
}

// The file name with the row's extension in place of its own (appended when it has none).
QString withExtension(const QString& name, const QString& extension) {
    if (name.isEmpty()) {
        return name;
    }
    const qsizetype slash = name.lastIndexOf('/');
    const qsizetype dot = name.lastIndexOf('.');
    if (dot > slash + 1) {
        return name.left(dot) + extension;
    }
    return name + extension;
}

}  // namespace

CWaveFileDialog::CWaveFileDialog(IConversionFacts* facts, QWidget* parent, AcceptMode mode,
                                 const QStringList& filters)
    : CFileDlg(parent, mode, filters, kRemembered), facts_(facts) {}

QLabel* CWaveFileDialog::addField(QWidget* pane, int row, const char* label, Field field) {
    auto* grid = static_cast<QGridLayout*>(pane->layout());
    auto* caption = new QLabel(label, pane);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* value = new QLabel(pane);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    value->setMinimumWidth(160);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(caption, row, 0);
    grid->addWidget(value, row, 1);
    fields_[static_cast<std::size_t>(field)] = value;
    return value;
}

void CWaveFileDialog::setField(Field field, const QString& text) {
    if (QLabel* value = fields_[static_cast<std::size_t>(field)]; value != nullptr) {
        value->setText(text);
    }
}

QString CWaveFileDialog::fieldText(Field field) const {
    const QLabel* value = fields_[static_cast<std::size_t>(field)];
    return value != nullptr ? value->text() : QString();
}

CWaveFileOpenDialog::CWaveFileOpenDialog(IConversionFacts* facts, QWidget* parent)
    : CWaveFileDialog(facts, parent, QFileDialog::AcceptOpen, openFilters()) {
    setFileMode(QFileDialog::ExistingFile);
    auto* pane = new QWidget(this);
    pane->setObjectName("openPane");
    auto* grid = new QGridLayout(pane);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setColumnStretch(1, 1);
    addField(pane, 0, "Sampling Frequency (Hz):", kSamplingFrequency);
    addField(pane, 1, "Channel Count:", kChannelCount);
    addField(pane, 2, "Convert Size (Bytes):", kConvertSize);
    addField(pane, 3, "Drive Free Space (Bytes):", kDriveFreeSpace);
    problem_ = new QLabel(pane);
    problem_->setObjectName("importProblem");
    problem_->setWordWrap(true);
    grid->addWidget(problem_, 4, 0, 1, 2);
    addPane(pane);

    if (facts_ != nullptr) {
        setField(kDriveFreeSpace, shownBytes(facts_->recorderFreeBytes()));
    }
    connect(this, &QFileDialog::currentChanged, this, &CWaveFileOpenDialog::selectionChanged);
}

QString CWaveFileOpenDialog::problemText() const {
    return problem_->text();
}

void CWaveFileOpenDialog::selectionChanged(const QString& path) {
    problem_->setText(facts_ != nullptr && !path.isEmpty() && QFileInfo(path).isFile()
                          ? importProblem(path, facts_->songSampleRate())
                          : QString());
    if (facts_ == nullptr || path.isEmpty() || !QFileInfo(path).isFile() ||
        !facts_->openInputWave(path.toStdString())) {
        setField(kSamplingFrequency, {});
        setField(kChannelCount, {});
        setField(kConvertSize, {});
        return;
    }
    const KorvoLib::Korvo::WaveFormat wave = facts_->inputWave();
    setField(kSamplingFrequency, QString::number(wave.sampleRate));
    setField(kChannelCount, QString::number(wave.channels));
    facts_->computeImportRange();
    std::uint64_t size = facts_->neededDiskBytes();
    // The room for the virtual tracks the file goes to, not for the file's own channels.
    const auto channels = static_cast<std::uint64_t>(wave.channels);
    const auto tracks = static_cast<std::uint64_t>(trackCount_ > 0 ? trackCount_ : 0);
    if (channels != tracks) {
        if (channels != 0) {
            size /= channels;
        }
        size *= tracks;
    }
    setField(kConvertSize, shownBytes(size));
}

CWaveFileSaveDialog::CWaveFileSaveDialog(IConversionFacts* facts, QWidget* parent)
    : CWaveFileDialog(facts, parent, QFileDialog::AcceptSave, saveFilters()) {
    setFileMode(QFileDialog::AnyFile);
    // The remembered filter is shared with the open dialog, whose third row is All Files: a
    // remembered 3 starts at the first row, so FLAC is chosen anew each time.
    if (rememberedFilter() < 1 || rememberedFilter() > 2) {
        selectFilterIndex(1);
    }
    auto* pane = new QWidget(this);
    pane->setObjectName("savePane");
    auto* grid = new QGridLayout(pane);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setColumnStretch(1, 1);
    addField(pane, 0, "Convert Size (Bytes):", kConvertSize);
    addField(pane, 1, "Drive Free Space (Bytes):", kDriveFreeSpace);
    addPane(pane);

    const WaveFileTypeRow& row = saveRow(fileType());
    setDefaultSuffix(QString(row.extension).mid(1));
    if (facts_ != nullptr) {
        setField(kConvertSize, shownBytes(facts_->neededHostBytes(fileType())));
    }
    folderChanged(directory().absolutePath());
    connect(this, &QFileDialog::directoryEntered, this, &CWaveFileSaveDialog::folderChanged);
    connect(this, &QFileDialog::filterSelected, this, [this] { typeChanged(); });
    if (QLineEdit* box = fileNameBox(); box != nullptr) {
        connect(box, &QLineEdit::textChanged, this, &CWaveFileSaveDialog::nameChanged);
    }
}

void CWaveFileSaveDialog::folderChanged(const QString& folder) {
    if (facts_ == nullptr) {
        return;
    }
    shownFolder_ = QDir(folder).absolutePath();
    setField(kDriveFreeSpace, shownBytes(facts_->folderFreeBytes(folder.toStdString())));
}

void CWaveFileSaveDialog::nameChanged(const QString& name) {
    // A name with a folder part writes into that folder, which may lie on another file system.
    const QString target =
        name.contains('/') ? QFileInfo(QDir(directory()).absoluteFilePath(name)).absolutePath()
                           : directory().absolutePath();
    if (QDir(target).absolutePath() != shownFolder_) {
        folderChanged(target);
    }
}

void CWaveFileSaveDialog::typeChanged() {
    const int type = fileType();
    if (type < 0 || type > KorvoLib::Korvo::kWaveTypeFlac) {
        return;
    }
    const QString extension = saveRow(type).extension;
    setDefaultSuffix(extension.mid(1));
    if (QLineEdit* box = fileNameBox(); box != nullptr) {
        box->setText(withExtension(box->text(), extension));
    }
    if (facts_ != nullptr) {
        setField(kConvertSize, shownBytes(facts_->neededHostBytes(type)));
    }
}

}  // namespace korvo
