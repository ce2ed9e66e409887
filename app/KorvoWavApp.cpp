#include "app/KorvoWavApp.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <memory>

#include "app/KorvoWavDlg.h"
#include "app/SingleCopy.h"
#include "app/WaveformStrip.h"
#include "controls/Artwork.h"
#include "controls/Preferences.h"

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
    // For the documentation: KORVOWAV_SCREENSHOT=file.png clicks the first virtual tracks of
    // tracks 1 and 2, waits for their waveform, saves a picture of the window once it has been shown, then ends.
    const QString screenshot = qEnvironmentVariable("KORVOWAV_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(800, &window, [&window, screenshot] {
            for (const int v : {0, 8}) {
                CTrackButton* button = window.matrix().button(v);
                const QPointF centre = QRectF(button->rect()).center();
                QMouseEvent press(QEvent::MouseButtonPress, centre, button->mapToGlobal(centre),
                                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
                QMouseEvent release(QEvent::MouseButtonRelease, centre, button->mapToGlobal(centre),
                                    Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
                QCoreApplication::sendEvent(button, &press);
                QCoreApplication::sendEvent(button, &release);
            }
            window.exitButton()->setFocus();
            window.resize(std::max(window.width(), 860), window.height() + 160);
            // The waveform is read in the background: wait for it (a few seconds at most).
            auto* poll = new QTimer(&window);
            auto deadline = std::make_shared<QElapsedTimer>();
            deadline->start();
            QObject::connect(poll, &QTimer::timeout, &window, [&window, screenshot, poll, deadline] {
                if (!window.waveformStrip()->peaksReady() && deadline->elapsed() < 8000) {
                    return;
                }
                poll->stop();
                window.waveformStrip()->setPlayHead(window.waveformStrip()->range().end / 3);
                window.grab().save(screenshot);
                window.reject();
            });
            poll->start(250);
        });
    }
    window.exec();
    return 0;
}

}  // namespace korvo
