#include "app/KorvoWavDlg.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QShortcut>
#include <QTemporaryDir>
#include <QUrl>
#include <QComboBox>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFile>
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
#include "app/ExportAll.h"
#include "app/HistoryDlg.h"
#include "app/PreviewPlayer.h"
#include "app/ProgressDialog.h"
#include "app/RecentImages.h"
#include "app/TrackDrag.h"
#include "app/TrackDrop.h"
#include "app/TrackSamples.h"
#include "app/WaveformStrip.h"
#include "controls/Artwork.h"
#include "controls/Preferences.h"
#include "controls/WaveFileDialog.h"
#include "convert/StatusMessages.h"
#include "convert/TrackNames.h"
#include "disk/Status.h"
#include "transcode/SoundFileFactory.h"

namespace korvo {

namespace {

constexpr int kRootPathRole = Qt::UserRole;
constexpr int kImageItemRole = Qt::UserRole + 1;
constexpr int kSongNumberRole = Qt::UserRole;

const QString kDiskImageFilters = "Disk images (*.img *.ima *.dsk *.bin);;All files (*)";

// 83.5 s as "1:23.5".
QString playingTime(std::uint64_t frames, std::uint32_t sampleRate) {
    if (sampleRate == 0) {
        return "0:00.0";
    }
    const std::uint64_t tenths = frames * 10 / sampleRate;
    return QString("%1:%2.%3")
        .arg(tenths / 600)
        .arg(tenths / 10 % 60, 2, 10, QChar('0'))
        .arg(tenths % 10);
}

// The frames an export of the block range writes when it is not cut short.
std::uint64_t framesOf(BlockRange range) {
    return std::uint64_t{range.end - range.start} * kFramesPerBlock;
}

// "16.0 s" for what was written or read.
QString seconds(std::uint64_t frames, std::uint32_t sampleRate) {
    return QString::number(sampleRate == 0 ? 0.0 : double(frames) / sampleRate, 'f', 1) + " s";
}

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
    converter_.setWaveFileFactory(transcode::makeSoundFileFactory());
    setWindowTitle(kProgramTitle);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(programIcon());

    // The about item of the window's menu.
    aboutAction_ = new QAction(kAboutMenuText, this);
    aboutAction_->setShortcut(QKeySequence::HelpContents);
    connect(aboutAction_, &QAction::triggered, this, &CKorvoWavDlg::showAbout);
    addAction(aboutAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    buildLayout();
    player_ = new CPreviewPlayer(this);
    connect(player_, &CPreviewPlayer::positionChanged, strip_, &CWaveformStrip::setPlayHead);
    connect(player_, &CPreviewPlayer::stopped, this, [this] { markPlaying(false); });
    connect(strip_, &CWaveformStrip::playRequested, this, &CKorvoWavDlg::togglePlay);
    connect(strip_, &CWaveformStrip::positionChosen, this, [this] {
        if (player_->isPlaying()) {
            stopPlaying();
            togglePlay();  // on from the new place
        }
    });
    drops_ = new CTrackDropTarget(
        matrix_, [this](int v, const QString& path) { importDropped(v, path); }, this);
    drags_ = new CTrackDragSource(
        matrix_, [this](int) { noteSelectionAtPress(); },
        [this](int v) { return exportForDrag(v); }, this);
    connect(drags_, &CTrackDragSource::dragged, this, &CKorvoWavDlg::trackDragged);
    fillDriveList();
    fillSongList(false);
    updateTrackView(false);
    enableConvertButtons(false);
    restoreRememberedDisk();
    initialised_ = true;
}

CKorvoWavDlg::~CKorvoWavDlg() {
    player_->stop();
    writePreference(kPreferenceSection, kDriveKey, QString::fromStdString(converter_.rootPath()));
}

void CKorvoWavDlg::buildLayout() {
    driveCombo_ = new QComboBox(this);
    driveCombo_->setObjectName("drive");
    driveCombo_->setMinimumContentsLength(24);
    driveCombo_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    driveCombo_->setPlaceholderText("Choose a recorder disk, or open a disk image…");
    auto* driveLabel = new QLabel("Korvo Media &Drive:", this);
    driveLabel->setBuddy(driveCombo_);
    connect(driveCombo_, &QComboBox::activated, this, &CKorvoWavDlg::driveChanged);
    openButton_ = new QPushButton("&Open...", this);
    openButton_->setObjectName("open");
    openButton_->setAutoDefault(false);
    openButton_->setToolTip("Open a disk image of a recorder disk (Ctrl+O)");
    connect(openButton_, &QPushButton::clicked, this, [this] { driveChanged(imageItemRow()); });
    auto* openShortcut = new QShortcut(QKeySequence::Open, this);
    connect(openShortcut, &QShortcut::activated, openButton_, &QPushButton::click);

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
    top->addWidget(openButton_);
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

    playButton_ = new QPushButton("&Play", this);
    playButton_->setObjectName("play");
    playButton_->setAutoDefault(false);
    playButton_->setToolTip("Play the selected virtual tracks from the waveform's play head "
                            "(Space in the waveform; Escape stops)");
    playButton_->setFixedWidth(convertButtonFaceSize().width());
    connect(playButton_, &QPushButton::clicked, this, &CKorvoWavDlg::togglePlay);

    exportAllButton_ = new QPushButton("Export &all...", this);
    exportAllButton_->setObjectName("exportAll");
    exportAllButton_->setAutoDefault(false);
    exportAllButton_->setToolTip("Export every virtual track with data into its own file");
    exportAllButton_->setFixedWidth(convertButtonFaceSize().width());
    exportAllButton_->setEnabled(false);
    connect(exportAllButton_, &QPushButton::clicked, this, &CKorvoWavDlg::exportAll);

    auto* commands = new QVBoxLayout;
    commands->addSpacing(8);
    commands->addWidget(importButton_);
    commands->addWidget(exportButton_);
    commands->addWidget(playButton_);
    commands->addWidget(exportAllButton_);
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

    strip_ = new CWaveformStrip(this);
    statusLine_ = new QLabel(this);
    statusLine_->setObjectName("status");
    statusLine_->setTextFormat(Qt::RichText);
    statusLine_->setTextInteractionFlags(Qt::TextBrowserInteraction);
    connect(statusLine_, &QLabel::linkActivated, this,
            [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });

    // The window may grow: the waveform takes the room, the matrix keeps its layout.
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(strip_, 1);
    layout->addLayout(middle);
    layout->addWidget(statusLine_);
    layout->addLayout(bottom);
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
    // Images opened before, also those on a disk that is not plugged in now.
    for (const QString& image : recentImages()) {
        addDisk(image);
    }
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
        const QString image = imageChooser_ ? imageChooser_()
                                            : QFileDialog::getOpenFileName(
                                                  this, "Open disk image", {}, kDiskImageFilters);
        if (image.isEmpty()) {
            driveCombo_->setCurrentIndex(currentDriveRow_);
            return;
        }
        row = addDisk(image);
        driveCombo_->setCurrentIndex(row);
    }
    currentDriveRow_ = row;
    stopPlaying();
    const QString root = driveCombo_->itemData(row, kRootPathRole).toString();
    selectSong(root, kFirstSong, initialised_);
    // An image (not a mounted folder) the user chose joins the recent list, or leaves it when
    // it does not open as a recorder disk. At start-up an unplugged one keeps its place.
    if (!QFileInfo(root).isDir()) {
        if (diskOpened_) {
            rememberImage(root);
        } else if (initialised_) {
            forgetImage(root);
        }
    }
}

// --- the central refresh -------------------------------------------------------------------------

bool CKorvoWavDlg::selectSong(const QString& rootPath, int songNumber, bool showErrors) {
    converter_.setRootPath(rootPath.toStdString());
    diskOpened_ = converter_.refreshSongList();
    if (!diskOpened_) {
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

bool CKorvoWavDlg::reloadSong() {
    const CSong* loaded = converter_.song();
    return loaded != nullptr &&
           selectSong(QString::fromStdString(converter_.rootPath()), loaded->number(), true);
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
        button->setToolTip(enabled ? trackToolTip(*song, v) : QString());
    }
    exportAllButton_->setEnabled(enabled);
    refreshWaveform();
}

QString CKorvoWavDlg::trackToolTip(const CSong& song, int v) {
    const QString place = QString("%1.%2").arg(trackOf(v)).arg(vtrackOf(v));
    const QString name = QString::fromLatin1(song.name(v).c_str());
    const QString title = name.isEmpty() ? place : place + " " + name;
    if (!song.used(v)) {
        return title + ": no audio";
    }
    const std::uint32_t end = song.events().trackExtent(v).end;
    const int events = static_cast<int>(song.events().chain(v).count);
    return QString("%1: %2, %3 event%4")
        .arg(title, playingTime(std::uint64_t{end} * kFramesPerBlock, song.sampleRate()))
        .arg(events)
        .arg(events == 1 ? "" : "s");
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
    applySelection();
}

void CKorvoWavDlg::applySelection() {
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
    stopPlaying();
    refreshWaveform();
}

void CKorvoWavDlg::refreshWaveform() {
    const CSong* song = converter_.song();
    if (song == nullptr || selection_.empty() || !matrix_.button(0)->isEnabled()) {
        strip_->showTracks({}, {});
        return;
    }
    QString key = QString::fromStdString(converter_.rootPath()) + '|' +
                  QString::number(song->number());
    for (const std::uint8_t v : converter_.selectedTracks()) {
        key += '|' + QString::number(v);
    }
    strip_->showTracks(key, [this] { return CTrackSamples::fromConverter(converter_); });
}

void CKorvoWavDlg::togglePlay() {
    if (player_->isPlaying()) {
        stopPlaying();
        return;
    }
    if (converter_.song() == nullptr || selection_.empty()) {
        showText("Select one or two virtual tracks to play.");
        return;
    }
    std::unique_ptr<CTrackSamples> samples = CTrackSamples::fromConverter(converter_);
    if (!samples) {
        showText("The recorder disk cannot be read.");
        return;
    }
    const BlockRange range = samples->range();
    std::uint32_t start = strip_->playHead();
    if (start < range.start || start >= range.end) {
        start = range.start;
    }
    if (!player_->play(std::move(samples), start)) {
        showText(player_->problem());
        return;
    }
    markPlaying(true);
}

void CKorvoWavDlg::stopPlaying() {
    if (player_ != nullptr && player_->isPlaying()) {
        player_->stop();
    }
}

void CKorvoWavDlg::markPlaying(bool playing) {
    for (int v = 0; v < kVirtualTracks; ++v) {
        const bool heard =
            playing && std::find(selection_.begin(), selection_.end(), v) != selection_.end();
        if (matrix_.button(v)->isPlaying() != heard) {
            matrix_.button(v)->setPlaying(heard);
        }
    }
    playButton_->setText(playing ? "&Stop" : "&Play");
}

void CKorvoWavDlg::setStatusLine(const QString& text) {
    statusLine_->setText(text);
}

void CKorvoWavDlg::enableConvertButtons(bool enabled) {
    importButton_->setEnabled(enabled);
    exportButton_->setEnabled(enabled);
    historyButton_->setEnabled(enabled);
}

// --- the commands --------------------------------------------------------------------------------

void CKorvoWavDlg::renameTrack(CTrackButton& button) {
    if (!reloadSong()) {
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
    if (!reloadSong()) {
        return;
    }
    QString path;
    {
        // The pane shows any file the conversion front reads; whether to convert is asked after.
        converter_.setImportChoice({true, {}});
        CWaveFileOpenDialog dialog(&facts_, this);
        dialog.setTrackCount(static_cast<int>(selection_.size()));
        if (dialog.run() != QDialog::Accepted) {
            return;
        }
        path = dialog.chosenPath();
    }
    importFile(path);
}

void CKorvoWavDlg::importDropped(int virtualTrack, const QString& path) {
    if (!reloadSong()) {
        return;
    }
    // A stereo file fills the dropped-on track and the selected one of another track, if any.
    std::vector<int> targets{virtualTrack};
    if (converter_.openInputWave(path.toStdString()) && converter_.wave().channels == 2) {
        for (auto other = selection_.rbegin(); other != selection_.rend(); ++other) {
            if (*other / kVTracksPerTrack != virtualTrack / kVTracksPerTrack) {
                targets = {*other, virtualTrack};
                break;
            }
        }
    }
    selection_ = targets;
    applySelection();
    importFile(path);
}

bool CKorvoWavDlg::importFile(const QString& path) {
    // Nothing reads the disk on the side while the import writes it.
    stopPlaying();
    strip_->forgetCache();
    if (path.isEmpty() || !openImportFile(path)) {
        if (converter_.status() != kStatusOk) {
            showStatus(converter_.status());
        }
        return false;
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
        const WaveDescription& wave = converter_.wave();
        QStringList places;
        for (const std::uint8_t v : converter_.selectedTracks()) {
            places << QString("%1.%2").arg(trackOf(v)).arg(vtrackOf(v));
        }
        setStatusLine(QString("Imported %1 into %2: %3 channel%4, %5")
                          .arg(QFileInfo(path).fileName().toHtmlEscaped(), places.join(" and "))
                          .arg(wave.channels)
                          .arg(wave.channels == 1 ? "" : "s")
                          .arg(seconds(wave.frames, wave.sampleRate)));
        strip_->forgetCache();
        songChanged();
    } else {
        showStatus(converter_.status());
    }
    return imported;
}

bool CKorvoWavDlg::openImportFile(const QString& path) {
    converter_.setImportChoice({});
    const std::string file = path.toStdString();
    const bool opened = converter_.openInputWave(file);
    const SourceFormat source = converter_.sourceFormat();
    ImportChoice choice;
    // More than two channels through the conversion front: the user picks one or two of them.
    if (source.channels > 2 && (!opened || converter_.wave().throughFactory)) {
        QStringList items;
        for (int c = 1; c + 1 <= source.channels; c += 2) {
            items << QString("Channels %1 and %2").arg(c).arg(c + 1);
        }
        for (int c = 1; c <= source.channels; ++c) {
            items << QString("Channel %1").arg(c);
        }
        const int pairs = source.channels / 2;
        const int item = messages_->choose(
            this, QString("This file has %1 channels. Which do you import?").arg(source.channels),
            items);
        if (item < 0) {
            converter_.setStatus(kStatusOk);
            return false;
        }
        if (item < pairs) {
            choice.channels = {static_cast<std::uint16_t>(2 * item),
                               static_cast<std::uint16_t>(2 * item + 1)};
        } else {
            choice.channels = {static_cast<std::uint16_t>(item - pairs)};
        }
    }
    if (converter_.sourceNeedsConversion() && converter_.song() != nullptr) {
        const QString question =
            QString("This file is %1. The song is %2 Hz, 16-bit. Convert it while importing?")
                .arg(QString::fromStdString(transcode::describeSource(source)))
                .arg(converter_.song()->sampleRate());
        choice.convert = messages_->ask(this, question);
    }
    converter_.setImportChoice(choice);
    return converter_.openInputWave(file);
}

void CKorvoWavDlg::exportWave() {
    stopPlaying();
    if (!reloadSong()) {
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
        return;
    }
    const WaveDescription& wave = converter_.wave();
    const std::uint64_t whole = framesOf(converter_.blockRange());
    const QFileInfo file(path);
    const QString link = QString(" <a href=\"%1\">Show in folder</a>")
                             .arg(QUrl::fromLocalFile(file.absolutePath()).toString());
    if (wave.frames < whole) {
        setStatusLine(QString("Export cancelled: kept a shorter %1 of %2 (of %3).")
                          .arg(file.fileName().toHtmlEscaped(),
                               seconds(wave.frames, wave.sampleRate),
                               seconds(whole, wave.sampleRate)) +
                      link);
    } else {
        setStatusLine(QString("Wrote %1: %2 channel%3, %4.")
                          .arg(file.fileName().toHtmlEscaped())
                          .arg(wave.channels)
                          .arg(wave.channels == 1 ? "" : "s")
                          .arg(seconds(wave.frames, wave.sampleRate)) +
                      link);
    }
}

void CKorvoWavDlg::exportAll() {
    stopPlaying();
    if (!reloadSong()) {
        return;
    }
    const QString folder =
        folderChooser_ ? folderChooser_()
                       : QFileDialog::getExistingDirectory(this, "Export all virtual tracks into");
    if (folder.isEmpty()) {
        return;
    }
    const std::vector<std::uint8_t> selected = converter_.selectedTracks();
    int written = 0;
    bool stopped = false;
    for (const int v : tracksWithData(*converter_.song())) {
        bool cut = false;
        if (!exportTrack(v, QDir(folder).filePath(exportAllFileName(*converter_.song(), v)),
                         cut)) {
            converter_.setSelectedTracks(selected);
            showStatus(converter_.status());
            stopped = true;
            break;
        }
        ++written;
        if (cut) {
            stopped = true;  // cancelled: the shorter file stays, the rest is not written
            break;
        }
    }
    converter_.setSelectedTracks(selected);
    setStatusLine(QString("%1 %2 file%3 into %4. <a href=\"%5\">Show in folder</a>")
                      .arg(stopped ? "Stopped after writing" : "Wrote")
                      .arg(written)
                      .arg(written == 1 ? "" : "s")
                      .arg(QDir::toNativeSeparators(folder).toHtmlEscaped(),
                           QUrl::fromLocalFile(folder).toString()));
}

bool CKorvoWavDlg::exportTrack(int v, const QString& path, bool& cut) {
    converter_.setSelectedTracks({static_cast<std::uint8_t>(v)});
    converter_.computeExportRange();
    converter_.setOutputWave(path.toStdString(), KorvoLib::Korvo::kWaveTypeRiff);
    bool exported = false;
    {
        CProgressDialog progress;
        if (progress.create(QString("Processing %1.%2...").arg(trackOf(v)).arg(vtrackOf(v)),
                            this)) {
            converter_.setProgress(&progress);
            exported = converter_.runExport();
            converter_.setProgress(nullptr);
        }
    }
    cut = exported && converter_.wave().frames < framesOf(converter_.blockRange());
    return exported;
}

QString CKorvoWavDlg::dragFolder() const {
    return dragFolder_ && dragFolder_->isValid() ? dragFolder_->path() : QString();
}

void CKorvoWavDlg::noteSelectionAtPress() {
    selectionAtPress_ = selection_;
}

QString CKorvoWavDlg::exportForDrag(int v) {
    // A drag is no click: the selection stays as it was before the press.
    if (selection_ != selectionAtPress_) {
        selection_ = selectionAtPress_;
        applySelection();
    }
    stopPlaying();
    if (!reloadSong() || !converter_.song()->used(v)) {
        return {};
    }
    if (!dragFolder_) {
        dragFolder_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/korvowav-drag-XXXXXX");
    }
    // A folder per drag: a file manager may still be copying the file of an earlier drag.
    const QString place = dragFolder_->filePath(QString::number(++dragCount_));
    if (!dragFolder_->isValid() || !QDir().mkpath(place)) {
        showText("No temporary folder for the dragged file could be made.");
        return {};
    }
    const QString path = QDir(place).filePath(exportAllFileName(*converter_.song(), v));
    const std::vector<std::uint8_t> selected = converter_.selectedTracks();
    bool cut = false;
    const bool exported = exportTrack(v, path, cut);
    converter_.setSelectedTracks(selected);
    if (!exported) {
        showStatus(converter_.status());
        return {};
    }
    if (cut) {
        QFile::remove(path);  // a part of the track is no file worth dropping anywhere
        setStatusLine("Export cancelled: nothing was dragged.");
        return {};
    }
    return path;
}

void CKorvoWavDlg::trackDragged(int v, const QString& path, Qt::DropAction action) {
    const QString name = QFileInfo(path).fileName().toHtmlEscaped();
    if (action == Qt::IgnoreAction) {
        setStatusLine(QString("%1 was not dropped anywhere.").arg(name));
        return;
    }
    const CSong* song = converter_.song();
    const std::uint64_t frames =
        song == nullptr ? 0 : std::uint64_t{song->events().trackExtent(v).end} * kFramesPerBlock;
    setStatusLine(QString("Dragged out %1: 1 channel, %2.")
                      .arg(name, seconds(frames, song == nullptr ? 0 : song->sampleRate())));
}

void CKorvoWavDlg::showHistory() {
    if (selection_.empty() || !reloadSong()) {
        return;
    }
    // A restore rewrites the track's events: nothing reads the disk on the side meanwhile.
    stopPlaying();
    strip_->forgetCache();
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
    // Escape stops playing first; only a silent window ends with it.
    if (event->key() == Qt::Key_Escape && player_->isPlaying()) {
        event->accept();
        stopPlaying();
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
