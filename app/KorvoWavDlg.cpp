#include "app/KorvoWavDlg.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/AboutDlg.h"
#include "app/ConvertButton.h"
#include "app/DriveList.h"
#include "app/HistoryDlg.h"
#include "app/ProgressDialog.h"
#include "controls/Artwork.h"
#include "controls/Preferences.h"
#include "controls/WaveFileDialog.h"
#include "convert/StatusMessages.h"
#include "convert/TrackNames.h"
#include "disk/Status.h"

namespace korvo {

namespace {

constexpr int kRootPathRole = Qt::UserRole;
constexpr int kImageItemRole = Qt::UserRole + 1;
constexpr int kSongNumberRole = Qt::UserRole;

}  // namespace

// --- the matrix's interfaces -------------------------------------------------------------------

void CKorvoWavDlg::CTrackButtonCommander::notify(CTrackButton& button) {
    dialog_.trackToggled(button);
}

void CKorvoWavDlg::CTrackButtonTitleModifier::modify(CTrackButton& button) {
    dialog_.renameTrack(button);
}

bool CKorvoWavDlg::CTrackButtonTitleVerifier::verify(IPopup& popup) {
    const auto* edit = qobject_cast<QLineEdit*>(popup.window());
    if (edit == nullptr || isRecorderDisplayable(edit->text().toStdString())) {
        return true;
    }
    dialog_.showText(QString::fromUtf8(kUndisplayableNameMessage.data(),
                                       static_cast<qsizetype>(kUndisplayableNameMessage.size())),
                     popup.window());
    return false;
}

// --- construction --------------------------------------------------------------------------------

CKorvoWavDlg::CKorvoWavDlg(IMessageBox* messages, QWidget* parent)
    : QDialog(parent),
      ownMessages_(messages == nullptr ? std::make_unique<CMessageBox>() : nullptr),
      messages_(messages != nullptr ? messages : ownMessages_.get()),
      facts_(converter_),
      matrix_(kVTracksPerTrack, kTracks),
      commander_(std::make_unique<CTrackButtonCommander>(*this)),
      titleModifier_(std::make_unique<CTrackButtonTitleModifier>(*this)) {
    converter_.setPolarity(true);
    setWindowTitle(kProgramTitle);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(programIcon());

    // The about item of the window's menu.
    aboutAction_ = new QAction(kAboutMenuText, this);
    aboutAction_->setShortcut(QKeySequence::HelpContents);
    connect(aboutAction_, &QAction::triggered, this, &CKorvoWavDlg::showAbout);
    addAction(aboutAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    buildLayout();
    fillDriveList();
    fillSongList(false);
    updateTrackView(false);
    enableConvertButtons(false);
    restoreRememberedDisk();
    initialised_ = true;
}

CKorvoWavDlg::~CKorvoWavDlg() {
    writePreference(kPreferenceSection, kDriveKey, QString::fromStdString(converter_.rootPath()));
}

void CKorvoWavDlg::buildLayout() {
    driveCombo_ = new QComboBox(this);
    driveCombo_->setObjectName("drive");
    driveCombo_->setMinimumContentsLength(24);
    driveCombo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    auto* driveLabel = new QLabel("Korvo Media &Drive:", this);
    driveLabel->setBuddy(driveCombo_);
    connect(driveCombo_, &QComboBox::activated, this, &CKorvoWavDlg::driveChanged);

    songCombo_ = new QComboBox(this);
    songCombo_->setObjectName("song");
    songCombo_->setMinimumContentsLength(18);
    songCombo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    auto* songLabel = new QLabel("&Song:", this);
    songLabel->setBuddy(songCombo_);
    connect(songCombo_, &QComboBox::activated, this, [this] { songChanged(); });

    dataTypeEdit_ = new QLineEdit(this);
    dataTypeEdit_->setObjectName("dataType");
    dataTypeEdit_->setReadOnly(true);
    dataTypeEdit_->setFocusPolicy(Qt::NoFocus);
    dataTypeEdit_->setFixedWidth(56);

    auto* top = new QHBoxLayout;
    top->addWidget(driveLabel);
    top->addWidget(driveCombo_, 1);
    top->addSpacing(12);
    top->addWidget(songLabel);
    top->addWidget(songCombo_, 1);
    top->addSpacing(12);
    top->addWidget(new QLabel("Data Type:", this));
    top->addWidget(dataTypeEdit_);

    // The matrix: track c in screen column c, V.Track r in screen row r; button v = 8 c + r.
    auto* group = new QGroupBox("Track", this);
    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(3);
    grid->setVerticalSpacing(3);
    matrix_.attach(group, commander_.get(), titleModifier_.get());
    grid->addWidget(new QLabel("V.Track", group), 0, 0);
    for (int r = 0; r < kVTracksPerTrack; ++r) {
        grid->addWidget(new QLabel(QString::number(r + 1), group), r + 1, 0, Qt::AlignCenter);
    }
    for (int c = 0; c < kTracks; ++c) {
        for (int r = 0; r < kVTracksPerTrack; ++r) {
            grid->addWidget(matrix_.button(kVTracksPerTrack * c + r), r + 1, c + 1);
        }
        grid->addWidget(new QLabel(QString::number(c + 1), group), kVTracksPerTrack + 1, c + 1,
                        Qt::AlignCenter);
    }

    importButton_ = new CConvertButton(kImportCaption,
                                       "Import a wave file into the selected "
                                       "virtual tracks",
                                       this);
    exportButton_ = new CConvertButton(kExportCaption,
                                       "Export the selected virtual tracks into "
                                       "a wave file",
                                       this);
    connect(importButton_, &QAbstractButton::clicked, this, &CKorvoWavDlg::importWave);
    connect(exportButton_, &QAbstractButton::clicked, this, &CKorvoWavDlg::exportWave);
    historyButton_ = new QPushButton("History...", this);
    historyButton_->setAutoDefault(false);
    historyButton_->setShortcut(QKeySequence("Ctrl+H"));
    historyButton_->setToolTip("Earlier versions of the selected virtual track (Ctrl+H)");
    historyButton_->setFixedWidth(convertButtonFaceSize().width());
    connect(historyButton_, &QPushButton::clicked, this, &CKorvoWavDlg::showHistory);
    exitButton_ = new QPushButton("E&xit", this);
    exitButton_->setAutoDefault(false);
    connect(exitButton_, &QPushButton::clicked, this, &QDialog::reject);

    auto* commands = new QVBoxLayout;
    commands->addSpacing(8);
    commands->addWidget(importButton_);
    commands->addWidget(exportButton_);
    commands->addWidget(historyButton_);
    commands->addStretch();
    exitButton_->setFixedWidth(convertButtonFaceSize().width());
    commands->addWidget(exitButton_);

    group->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* middle = new QHBoxLayout;
    middle->addWidget(group);
    middle->addStretch();
    middle->addLayout(commands);

    auto* logo = new QLabel(this);
    logo->setPixmap(logoPicture());
    notice_ = new QLabel(programCopyright(), this);
    notice_->setObjectName("notice");
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(logo);
    bottom->addWidget(notice_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

// --- the drive list ------------------------------------------------------------------------------

void CKorvoWavDlg::fillDriveList() {
    driveCombo_->clear();
    const QFileIconProvider icons;
    for (const MountEntry& mount : mountedFileSystems()) {
        const QString root = QString::fromStdString(mount.mountPoint);
        driveCombo_->addItem(icons.icon(QFileIconProvider::Drive), root, root);
    }
    driveCombo_->addItem(icons.icon(QFileIconProvider::File), "Open disk image...");
    driveCombo_->setItemData(driveCombo_->count() - 1, true, kImageItemRole);
    driveCombo_->setCurrentIndex(-1);
}

int CKorvoWavDlg::imageItemRow() const {
    return driveCombo_->count() - 1;
}

int CKorvoWavDlg::addDisk(const QString& rootPath) {
    const int found = driveCombo_->findData(rootPath, kRootPathRole);
    if (found >= 0) {
        return found;
    }
    const QFileIconProvider icons;
    const QFileInfo info(rootPath);
    const QIcon icon = info.isDir() ? icons.icon(QFileIconProvider::Drive) : icons.icon(info);
    const int row = imageItemRow();  // before the image item, which stays last
    driveCombo_->insertItem(row, icon, rootPath, rootPath);
    return row;
}

void CKorvoWavDlg::selectDisk(const QString& rootPath) {
    const int row = addDisk(rootPath);
    driveCombo_->setCurrentIndex(row);
    driveChanged(row);
}

void CKorvoWavDlg::restoreRememberedDisk() {
    const QString remembered = readPreference(kPreferenceSection, kDriveKey);
    if (remembered.isEmpty()) {
        return;
    }
    int row = driveCombo_->findData(remembered, kRootPathRole);
    // A disk image or device opened before is listed again; a folder must still be mounted.
    const QFileInfo disk(remembered);
    if (row < 0 && disk.exists() && !disk.isDir()) {
        row = addDisk(remembered);
    }
    if (row >= 0) {
        driveCombo_->setCurrentIndex(row);
        driveChanged(row);
    }
}

void CKorvoWavDlg::driveChanged(int row) {
    if (row < 0 || row >= driveCombo_->count()) {
        return;
    }
    if (driveCombo_->itemData(row, kImageItemRole).toBool()) {
        const QString image =
            imageChooser_ ? imageChooser_() : QFileDialog::getOpenFileName(this, "Open disk image");
        if (image.isEmpty()) {
            driveCombo_->setCurrentIndex(currentDriveRow_);
            return;
        }
        row = addDisk(image);
        driveCombo_->setCurrentIndex(row);
    }
    currentDriveRow_ = row;
    selectSong(driveCombo_->itemData(row, kRootPathRole).toString(), kFirstSong, initialised_);
}

// --- the central refresh -------------------------------------------------------------------------

bool CKorvoWavDlg::selectSong(const QString& rootPath, int songNumber, bool showErrors) {
    converter_.setRootPath(rootPath.toStdString());
    if (!converter_.refreshSongList()) {
        if (showErrors) {
            showStatus(converter_.status());
        }
        fillSongList(false);
    } else if (converter_.songList() == nullptr || converter_.songList()->empty()) {
        if (showErrors) {
            showText(QString::fromUtf8(kNoSongMessage.data(),
                                       static_cast<qsizetype>(kNoSongMessage.size())));
        }
        fillSongList(true);
    } else {
        if (songNumber == kFirstSong) {
            songNumber = converter_.songList()->begin()->first;
        }
        if (!converter_.refreshSongNumber(songNumber)) {
            if (showErrors) {
                showStatus(converter_.status());
            }
            fillSongList(true);
        } else {
            songCombo_->setUpdatesEnabled(false);
            fillSongList(true);
            songCombo_->setCurrentIndex(songCombo_->findData(songNumber, kSongNumberRole));
            songCombo_->setUpdatesEnabled(true);
            songCombo_->update();
            updateTrackView(true);
            enableConvertButtons(!selection_.empty());
            return true;
        }
    }
    updateTrackView(false);
    enableConvertButtons(false);
    return false;
}

void CKorvoWavDlg::songChanged() {
    const QVariant number = songCombo_->currentData(kSongNumberRole);
    selectSong(QString::fromStdString(converter_.rootPath()),
               number.isValid() ? number.toInt() : kFirstSong, true);
}

void CKorvoWavDlg::fillSongList(bool enabled) {
    songCombo_->clear();
    if (enabled && converter_.songList() != nullptr) {
        for (const auto& [number, entry] : *converter_.songList()) {
            songCombo_->addItem(QString::fromStdString(songListItemText(entry)),
                                static_cast<int>(number));
        }
    }
    songCombo_->setEnabled(enabled);
}

// --- the track view ------------------------------------------------------------------------------

void CKorvoWavDlg::updateTrackView(bool enabled) {
    const CSong* song = enabled ? converter_.song() : nullptr;
    enabled = song != nullptr;
    dataTypeEdit_->setEnabled(enabled);
    dataTypeEdit_->setText(enabled ? QString(song->dataTypeName()) : QString());
    for (int v = 0; v < kVirtualTracks; ++v) {
        CTrackButton* button = matrix_.button(v);
        button->setEnabled(enabled);
        button->setHasData(enabled && song->used(v));
        // The stored name may hold zero bytes after its text (a 9-byte slot).
        const std::string& name = enabled ? song->name(v) : std::string();
        button->setTitle(QString::fromLatin1(name.c_str()));
    }
}

void CKorvoWavDlg::trackToggled(CTrackButton& button) {
    const int v = button.columnIndex() + kVTracksPerTrack * button.rowIndex();
    if (button.isSelected()) {
        if (std::find(selection_.begin(), selection_.end(), v) == selection_.end()) {
            selection_.push_back(v);
        }
        // Never two virtual tracks of one track.
        const int first = v / kVTracksPerTrack * kVTracksPerTrack;
        selection_.erase(std::remove_if(selection_.begin(), selection_.end(),
                                        [&](int other) {
                                            return other != v && other >= first &&
                                                   other < first + kVTracksPerTrack;
                                        }),
                         selection_.end());
    } else {
        selection_.erase(std::remove(selection_.begin(), selection_.end(), v), selection_.end());
    }
    while (selection_.size() > 2) {
        selection_.erase(selection_.begin());  // the oldest choice goes
    }
    for (int other = 0; other < kVirtualTracks; ++other) {
        CTrackButton* each = matrix_.button(other);
        const bool selected =
            std::find(selection_.begin(), selection_.end(), other) != selection_.end();
        if (each->isSelected() != selected) {
            each->setSelected(selected);
        }
    }
    std::vector<std::uint8_t> ascending(selection_.begin(), selection_.end());
    std::sort(ascending.begin(), ascending.end());
    converter_.setSelectedTracks(std::move(ascending));
    enableConvertButtons(!selection_.empty());
}

void CKorvoWavDlg::enableConvertButtons(bool enabled) {
    importButton_->setEnabled(enabled);
    exportButton_->setEnabled(enabled);
    historyButton_->setEnabled(enabled);
}

// --- the commands --------------------------------------------------------------------------------

void CKorvoWavDlg::renameTrack(CTrackButton& button) {
    const CSong* loaded = converter_.song();
    if (loaded == nullptr ||
        !selectSong(QString::fromStdString(converter_.rootPath()), loaded->number(), true)) {
        return;
    }
    if (converter_.song()->isProtected()) {
        showStatus(kStatusSongProtected);
        return;
    }
    const QString oldTitle = button.title();
    CTrackButtonTitleVerifier verifier(*this);
    CPopupEdit popup(&verifier);
    popup.setPopupText(oldTitle);
    const QRect area(button.mapToGlobal(QPoint(0, 0)), button.size());
    if (popup.popup(area, &button) != IPopup::kCommitted) {
        return;
    }
    const int v = button.columnIndex() + kVTracksPerTrack * button.rowIndex();
    switch (converter_.renameTrack(v, popup.popupText().toStdString())) {
        case CTrackConverter::RenameResult::renamed:
            button.setTitle(QString::fromLatin1(converter_.song()->name(v).c_str()));
            return;
        case CTrackConverter::RenameResult::unchanged:
        case CTrackConverter::RenameResult::undisplayable:
            return;
        case CTrackConverter::RenameResult::failed:
            showStatus(converter_.status());
            songChanged();
            return;
    }
}

void CKorvoWavDlg::importWave() {
    const CSong* loaded = converter_.song();
    if (loaded == nullptr ||
        !selectSong(QString::fromStdString(converter_.rootPath()), loaded->number(), true)) {
        return;
    }
    QString path;
    {
        CWaveFileOpenDialog dialog(&facts_, this);
        dialog.setTrackCount(static_cast<int>(selection_.size()));
        if (dialog.run() != QDialog::Accepted) {
            return;
        }
        path = dialog.chosenPath();
    }
    if (path.isEmpty() || !converter_.openInputWave(path.toStdString())) {
        showStatus(converter_.status());
        return;
    }
    converter_.computeImportRange();
    bool imported = false;
    {
        CProgressDialog progress;
        if (progress.create("Processing...", this)) {
            converter_.setProgress(&progress);
            imported = converter_.runImport();
            converter_.setProgress(nullptr);
        }
    }
    // The message comes once the progress window is gone and the window is enabled again.
    if (imported) {
        songChanged();
    } else {
        showStatus(converter_.status());
    }
}

void CKorvoWavDlg::exportWave() {
    const CSong* loaded = converter_.song();
    if (loaded == nullptr ||
        !selectSong(QString::fromStdString(converter_.rootPath()), loaded->number(), true)) {
        return;
    }
    converter_.computeExportRange();
    QString path;
    int fileType = KorvoLib::Korvo::kWaveTypeRiff;
    {
        CWaveFileSaveDialog dialog(&facts_, this);
        dialog.setTrackCount(static_cast<int>(selection_.size()));
        if (dialog.run() != QDialog::Accepted) {
            return;
        }
        path = dialog.chosenPath();
        fileType = dialog.fileType();
    }
    converter_.setOutputWave(path.toStdString(), fileType);
    bool exported = false;
    {
        CProgressDialog progress;
        if (progress.create("Processing...", this)) {
            converter_.setProgress(&progress);
            exported = converter_.runExport();
            converter_.setProgress(nullptr);
        }
    }
    if (!exported) {
        showStatus(converter_.status());
    }
}

void CKorvoWavDlg::showHistory() {
    const CSong* loaded = converter_.song();
    if (loaded == nullptr || selection_.empty() ||
        !selectSong(QString::fromStdString(converter_.rootPath()), loaded->number(), true)) {
        return;
    }
    bool restored = false;
    {
        CHistoryDlg history(converter_, selection_.back(), *messages_, this);
        if (historyHook_) {
            historyHook_(history);
        }
        history.exec();
        restored = history.restored();
    }
    if (restored) {
        songChanged();  // the track's events changed: show the song as it is now
    }
}

void CKorvoWavDlg::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CKorvoWavDlg::keyPressEvent(QKeyEvent* event) {
    // Enter does nothing: the window has no default button and never ends through it.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// --- messages ------------------------------------------------------------------------------------

void CKorvoWavDlg::showStatus(int code) {
    const std::string_view message = statusMessage(code);
    showText(QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
}

void CKorvoWavDlg::showText(const QString& text, QWidget* owner) {
    messages_->show(owner != nullptr ? owner : this, text);
}

}  // namespace korvo
