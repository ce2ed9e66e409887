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

namespace korvo {

class CConvertButton;
class CHistoryDlg;

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
    void exportWave();
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
    void fillSongList(bool enabled);
    void updateTrackView(bool enabled);
    void trackToggled(CTrackButton& button);
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
    int currentDriveRow_ = -1;
    std::function<QString()> imageChooser_;

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
};

}  // namespace korvo
