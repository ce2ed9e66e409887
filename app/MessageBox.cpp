#include "app/MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace korvo {

void CMessageBox::show(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, owner);
    box.exec();
}

}  // namespace korvo
