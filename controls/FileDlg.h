#pragma once
// The program's file dialog: Qt's own file dialog (never the desktop's native one, so that a
// property pane can sit below its controls) that remembers its folder, file name and filter in
// the preference file. The remembered values are read at construction and written whenever the
// dialog returns, whatever the user chose, also on cancel.
//
//   CFileDlg dialog(parent, QFileDialog::AcceptOpen, {"Texts(*.txt) (*.txt)"},
//                   {{"Preferece", "Directory"}, {"Preferece", "File"}, {"Preferece", "Filter"}});
//   if (dialog.run() == QDialog::Accepted) open(dialog.chosenPath());

#include <QFileDialog>
#include <QString>
#include <QStringList>

class QLineEdit;

namespace korvo {

class CFileDlg : public QFileDialog {
    Q_OBJECT

public:
    // A setting is used only when both its section and its key are set.
    struct Setting {
        QString section;
        QString key;
        bool used() const { return !section.isEmpty() && !key.isEmpty(); }
    };
    struct Settings {
        Setting directory;
        Setting file;
        Setting filter;
    };

    CFileDlg(QWidget* parent, AcceptMode mode, const QStringList& filters,
             const Settings& settings);

    // Runs the dialog modally and stores the remembered values; QDialog::Accepted or Rejected.
    int run();
    // The path the user chose (or typed, when cancelled); empty when there is none.
    QString chosenPath() const;
    // The row of the current filter, 1-based.
    int filterIndex() const;
    // The file-name box of the dialog.
    QLineEdit* fileNameBox() const;

protected:
    // Puts the pane below the dialog's own controls, across their whole width.
    void addPane(QWidget* pane);
    // Selects filter row `index` (1-based) when it exists.
    void selectFilterIndex(int index);
    // The remembered filter index read at construction (1 when none was stored).
    int rememberedFilter() const { return rememberedFilter_; }

private:
    void storeSettings();

    Settings settings_;
    int rememberedFilter_ = 1;
};

}  // namespace korvo
