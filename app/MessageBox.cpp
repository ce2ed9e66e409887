#include "app/MessageBox.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace korvo {

void CMessageBox::show(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, owner);
    box.exec();
}

bool CMessageBox::ask(QWidget* owner, const QString& question) {
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), question,
                    QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

int CMessageBox::choose(QWidget* owner, const QString& text, const QStringList& items) {
    bool chosen = false;
    const QString item = QInputDialog::getItem(owner, QCoreApplication::applicationName(), text,
                                               items, 0, false, &chosen);
    return chosen ? static_cast<int>(items.indexOf(item)) : -1;
}

}  // namespace korvo
