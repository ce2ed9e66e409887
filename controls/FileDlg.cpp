#include "controls/FileDlg.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>

#include "controls/Preferences.h"

namespace korvo {

CFileDlg::CFileDlg(QWidget* parent, AcceptMode mode, const QStringList& filters,
                   const Settings& settings)
    : QFileDialog(parent), settings_(settings) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    // Filters are written "label (patterns)"; only the label is shown.
    setOption(QFileDialog::HideNameFilterDetails, true);
    setAcceptMode(mode);
    setNameFilters(filters);

    if (settings_.directory.used()) {
        const QString folder = readPreference(settings_.directory.section, settings_.directory.key);
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
            setDirectory(folder);
        }
    }
    if (settings_.filter.used()) {
        bool number = false;
        const int index =
            readPreference(settings_.filter.section, settings_.filter.key, "1").toInt(&number);
        rememberedFilter_ = number ? index : 1;
    }
    selectFilterIndex(rememberedFilter_);
    if (settings_.file.used()) {
        const QString file = readPreference(settings_.file.section, settings_.file.key);
        if (!file.isEmpty()) {
            selectFile(file);
        }
    }
}

void CFileDlg::selectFilterIndex(int index) {
    const QStringList filters = nameFilters();
    if (index >= 1 && index <= filters.size()) {
        selectNameFilter(filters.at(index - 1));
    }
}

int CFileDlg::run() {
    const int result = exec();
    storeSettings();
    return result;
}

QString CFileDlg::chosenPath() const {
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

int CFileDlg::filterIndex() const {
    // The type box holds one row per filter, in order; selectedNameFilter() gives only the
    // shown label while details are hidden.
    if (const auto* types = findChild<QComboBox*>("fileTypeCombo"); types != nullptr) {
        return types->currentIndex() < 0 ? 1 : types->currentIndex() + 1;
    }
    const int row = static_cast<int>(nameFilters().indexOf(selectedNameFilter()));
    return row < 0 ? 1 : row + 1;
}

QLineEdit* CFileDlg::fileNameBox() const {
    return findChild<QLineEdit*>("fileNameEdit");
}

void CFileDlg::addPane(QWidget* pane) {
    if (auto* grid = qobject_cast<QGridLayout*>(layout()); grid != nullptr) {
        grid->addWidget(pane, grid->rowCount(), 0, 1, grid->columnCount());
    } else if (layout() != nullptr) {
        layout()->addWidget(pane);
    }
}

void CFileDlg::storeSettings() {
    if (settings_.directory.used()) {
        writePreference(settings_.directory.section, settings_.directory.key,
                        directory().absolutePath());
    }
    if (settings_.file.used()) {
        QString name;
        if (result() == QDialog::Accepted) {
            name = QFileInfo(chosenPath()).fileName();
        } else if (const QLineEdit* box = fileNameBox(); box != nullptr) {
            // Cancelled: what the file-name box held.
            name = QFileInfo(box->text()).fileName();
        }
        writePreference(settings_.file.section, settings_.file.key, name);
    }
    if (settings_.filter.used()) {
        writePreference(settings_.filter.section, settings_.filter.key,
                        QString::number(filterIndex()));
    }
}

}  // namespace korvo
