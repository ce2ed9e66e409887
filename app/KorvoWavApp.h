#pragma once
// The application object: one running copy per user (a second start brings the first copy's
// window to the front and ends), the preference file named after the program, and the main
// window run modally; the program ends when the window closes.
//
//   int main(int argc, char** argv) {
//       korvo::CKorvoWavApp app(argc, argv);
//       return app.run();
//   }

#include <QApplication>

namespace korvo {

class CKorvoWavApp : public QApplication {
    Q_OBJECT

public:
    CKorvoWavApp(int& argc, char** argv);
    // Start-up, the main window, shut-down; the process's exit code (always 0).
    int run();
};

}  // namespace korvo
