#pragma once
// The program's one window. The user picks the recorder disk (a mounted file system, or a disk
// image opened from the list), a song on it and one or two of the song's 64 virtual tracks, and
// then imports a wave file into them, exports them into a wave file, or renames one in place.
// The window owns the track converter for its whole life; every command that touches the disk
// refreshes the song first, so a swapped or write-protected disk is noticed. Failures are shown
// through the message box interface with the engine's status message; the window never ends
// because of one. Commands run on this thread, with the progress window as the engine's
// progress interface.
//
//   CKorvoWavDlg window;          // or CKorvoWavDlg window(&recordingMessageBox) in tests
//   window.exec();                // remembers the disk's root path when it is destroyed

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "app/MessageBox.h"
#include "controls/ConversionFacts.h"
#include "controls/PopupEdit.h"
#include "controls/TrackButtonMatrix.h"
#include "convert/TrackConverter.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTemporaryDir;

namespace korvo {

class CConvertButton;
class CHistoryDlg;
class CPreviewPlayer;
class CTrackDragSource;
class CTrackDropTarget;
class CWaveformStrip;

class CKorvoWavDlg : public QDialog {
    Q_OBJECT

public:
    // Marks "the first song of the list" where a song number is expected.
    static constexpr int kFirstSong = -2;

    class CTrackButtonCommander : public CTrackButton::ICommander {
    public:
        explicit CTrackButtonCommander(CKorvoWavDlg& dialog) : dialog_(dialog) {}
        void notify(CTrackButton& button) override;

    private:
        CKorvoWavDlg& dialog_;
    };
    class CTrackButtonTitleModifier : public CTrackButton::ITitleModifier {
    public:
        explicit CTrackButtonTitleModifier(CKorvoWavDlg& dialog) : dialog_(dialog) {}
        void modify(CTrackButton& button) override;

    private:
        CKorvoWavDlg& dialog_;
    };
    // Accepts a title only when every character is 7-bit ASCII.
    class CTrackButtonTitleVerifier : public IPopup::IVerifier {
    public:
        explicit CTrackButtonTitleVerifier(CKorvoWavDlg& dialog) : dialog_(dialog) {}
        bool verify(IPopup& popup) override;

    private:
        CKorvoWavDlg& dialog_;
    };

    // messages: where texts are shown (null: real message boxes).
    explicit CKorvoWavDlg(IMessageBox* messages = nullptr, QWidget* parent = nullptr);
    ~CKorvoWavDlg() override;

    // --- what the window shows, for its owner and for tests ----------------------------------
    CTrackConverter& converter() { return converter_; }
    CTrackButtonMatrix& matrix() { return matrix_; }
    QComboBox* driveCombo() const { return driveCombo_; }
    QComboBox* songCombo() const { return songCombo_; }
    QLineEdit* dataTypeEdit() const { return dataTypeEdit_; }
    CConvertButton* importButton() const { return importButton_; }
    CConvertButton* exportButton() const { return exportButton_; }
    QPushButton* historyButton() const { return historyButton_; }
    QPushButton* exitButton() const { return exitButton_; }
    QLabel* noticeLabel() const { return notice_; }
    QAction* aboutAction() const { return aboutAction_; }
    CWaveformStrip* waveformStrip() const { return strip_; }
    QPushButton* playButton() const { return playButton_; }
    QPushButton* exportAllButton() const { return exportAllButton_; }
    QPushButton* openButton() const { return openButton_; }
    CPreviewPlayer* player() const { return player_; }
    // The line under the matrix that says what the last command did.
    QLabel* statusLine() const { return statusLine_; }
    // The selection, oldest first.
    const std::vector<int>& selection() const { return selection_; }

    // Adds a disk (an image, a device or a folder) to the drive list unless it is there, and
    // returns its row. Choosing the image item asks the image chooser for a path first.
    int addDisk(const QString& rootPath);
    // Selects the disk's row (adding it first) and refreshes as a choice in the list does.
    void selectDisk(const QString& rootPath);
    // Asks for the path of a disk image (a file dialog unless replaced); empty: cancelled.
    void setImageChooser(std::function<QString()> chooser) { imageChooser_ = std::move(chooser); }

    // --- the commands ------------------------------------------------------------------------
    // The central refresh; false when no song could be shown.
    bool selectSong(const QString& rootPath, int songNumber, bool showErrors);
    void importWave();
    // Imports the wave file into the selected virtual tracks, as Import does once a file is
    // chosen; true when it was imported.
    bool importFile(const QString& path);
    // A wave file dropped on virtual track v: imported into v (and, for a stereo file, the
    // other selected virtual track when there is one).
    void importDropped(int virtualTrack, const QString& path);
    // Opens the chosen file for import, asking which channels of a many-channel file and
    // whether to convert one of another rate or depth. False with status 0 when the user
    // cancels the channel choice.
    bool openImportFile(const QString& path);
    void exportWave();
    // Every virtual track with data into its own mono file in a folder ("T.V NAME.wav").
    void exportAll();
    // Asks for the folder of Export all (a folder dialog unless replaced); empty: cancelled.
    void setFolderChooser(std::function<QString()> chooser) { folderChooser_ = std::move(chooser); }
    // Drags of track buttons out to a file manager (TrackDrag.h); each writes its virtual track
    // alone into a folder of its own under a temporary folder the window removes when it ends.
    CTrackDragSource* dragSource() const { return drags_; }
    // The temporary folder of the dragged files; empty before the first drag.
    QString dragFolder() const;
    // Plays the selected virtual tracks from the strip's play position, or stops.
    void togglePlay();
    void stopPlaying();
    void renameTrack(CTrackButton& button);
    // The earlier versions of the most recently selected virtual track (HistoryDlg.h).
    void showHistory();
    // Called with the history dialog before it is shown (tests drive it from here).
    void setHistoryHook(std::function<void(CHistoryDlg&)> hook) { historyHook_ = std::move(hook); }
    void showAbout();

    void accept() override {}  // Enter never ends the window

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void fillDriveList();
    void restoreRememberedDisk();
    void driveChanged(int row);
    void songChanged();
    // Reads the loaded song again from the disk before a command uses it; false (the error
    // shown) when no song is loaded or it can no longer be read.
    bool reloadSong();
    void fillSongList(bool enabled);
    void updateTrackView(bool enabled);
    void trackToggled(CTrackButton& button);
    // Shows the selection on the buttons and hands it to the engine.
    void applySelection();
    void refreshWaveform();
    // Virtual track v alone into a RIFF WAVE file with the progress window; false on failure
    // (status in the converter). cut: Cancel kept a shorter file. The selection is the caller's.
    bool exportTrack(int v, const QString& path, bool& cut);
    void noteSelectionAtPress();
    // The file a drag of virtual track v carries; empty when none was written.
    QString exportForDrag(int v);
    void trackDragged(int v, const QString& path, Qt::DropAction action);
    void markPlaying(bool playing);
    void setStatusLine(const QString& text);
    static QString trackToolTip(const CSong& song, int virtualTrack);
    void enableConvertButtons(bool enabled);
    void showStatus(int code);
    void showText(const QString& text, QWidget* owner = nullptr);
    int imageItemRow() const;

    std::unique_ptr<IMessageBox> ownMessages_;
    IMessageBox* messages_;
    CTrackConverter converter_;
    CTrackConverterFacts facts_;
    CTrackButtonMatrix matrix_;
    std::unique_ptr<CTrackButtonCommander> commander_;
    std::unique_ptr<CTrackButtonTitleModifier> titleModifier_;
    std::vector<int> selection_;
    bool initialised_ = false;
    bool diskOpened_ = false;  // the last refresh read the disk's song list
    int currentDriveRow_ = -1;
    std::function<QString()> imageChooser_;
    std::function<QString()> folderChooser_;

    QComboBox* driveCombo_ = nullptr;
    QComboBox* songCombo_ = nullptr;
    QLineEdit* dataTypeEdit_ = nullptr;
    CConvertButton* importButton_ = nullptr;
    CConvertButton* exportButton_ = nullptr;
    QPushButton* historyButton_ = nullptr;
    std::function<void(CHistoryDlg&)> historyHook_;
    QPushButton* exitButton_ = nullptr;
    QLabel* notice_ = nullptr;
    QAction* aboutAction_ = nullptr;
    CWaveformStrip* strip_ = nullptr;
    CPreviewPlayer* player_ = nullptr;
    CTrackDropTarget* drops_ = nullptr;
    CTrackDragSource* drags_ = nullptr;
    std::unique_ptr<QTemporaryDir> dragFolder_;
    int dragCount_ = 0;
    std::vector<int> selectionAtPress_;
    QPushButton* playButton_ = nullptr;
    QPushButton* exportAllButton_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QLabel* statusLine_ = nullptr;
};

}  // namespace korvo
