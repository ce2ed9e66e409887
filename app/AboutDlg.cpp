#include "app/AboutDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

#include "controls/Artwork.h"
#include "convert/Version.h"

namespace korvo {

QString programVersion() {
    return QStringLiteral(KORVOWAV_VERSION_STRING);
}
QString programCopyright() {
    return QStringLiteral(KORVOWAV_COPYRIGHT_STRING);
}

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      version_(new QLabel("Version " + programVersion(), this)),
      copyright_(new QLabel(programCopyright(), this)) {
    setWindowTitle("About Korvo WAVE CONVERTER");
    auto* icon = new QLabel(this);
    icon->setPixmap(programIcon().pixmap(32, 32));
    auto* logo = new QLabel(this);
    logo->setPixmap(logoPicture());
    version_->setObjectName("version");
    copyright_->setObjectName("copyright");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(new QLabel(kProgramTitle, this), 0, 1);
    layout->addWidget(version_, 1, 1);
    layout->addWidget(copyright_, 2, 1);
    layout->addWidget(logo, 3, 0, 1, 2);
    layout->addWidget(buttons, 4, 0, 1, 2);
    setFixedSize(sizeHint());
}

}  // namespace korvo
