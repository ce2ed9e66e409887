#include "app/KorvoWavApp.h"

#include <QTimer>

#include "app/KorvoWavDlg.h"
#include "app/Preferences.h"
#include "app/SingleCopy.h"
#include "controls/Artwork.h"

namespace korvo {

CKorvoWavApp::CKorvoWavApp(int& argc, char** argv) : QApplication(argc, argv) {
    setWindowIcon(programIcon());
    setDesktopFileName("korvowav");
}

int CKorvoWavApp::run() {
    CSingleCopy copy(CSingleCopy::defaultName(), CSingleCopy::defaultLockPath());
    if (!copy.acquire()) {
        copy.askFirstToRaise();
        return 0;
    }
    setPreferenceFile(defaultPreferenceFile());

    CKorvoWavDlg window;
    connect(&copy, &CSingleCopy::raiseRequested, &window, [&window] {
        window.showNormal();
        window.raise();
        window.activateWindow();
    });
    // For the documentation: KORVOWAV_SCREENSHOT=file.png saves a picture of the window once it
    // has been shown, then ends the program.
    const QString screenshot = qEnvironmentVariable("KORVOWAV_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(800, &window, [&window, screenshot] {
            window.grab().save(screenshot);
            window.reject();
        });
    }
    window.exec();
    return 0;
}

}  // namespace korvo
