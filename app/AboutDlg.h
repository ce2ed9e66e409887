#pragma once
// The about box: the program's icon and name, the logo, "Version " with the program's version
// and the copyright line, and an OK button. Opened modally from the main window's menu.

#include <QDialog>

class QLabel;

namespace korvo {

inline constexpr const char* kProgramTitle = "Korvo WAVE CONVERTER";
inline constexpr const char* kAboutMenuText = "&About Korvo WAVE CONVERTER...";

// The version strings compiled into the program ("FileVersion" and the copyright).
QString programVersion();
QString programCopyright();

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel* versionLabel() const { return version_; }
    QLabel* copyrightLabel() const { return copyright_; }

private:
    QLabel* version_;
    QLabel* copyright_;
};

}  // namespace korvo
