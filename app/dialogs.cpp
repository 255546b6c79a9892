#include "dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

// The chosen file, or empty when the user cancelled.
QString RunFileDialog(QWidget *parent, const QString &initialName, const QString &filter,
                      QFileDialog::FileMode mode, QFileDialog::AcceptMode accept) {
    QFileDialog dialog(parent, QString(), QString(), filter);
    dialog.setFileMode(mode);
    dialog.setAcceptMode(accept);
    dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

class QtDialogs final : public Dialogs {
public:
    bool Confirm(QWidget *parent, const QString &title, const QString &text) override {
        return QMessageBox::question(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) ==
               QMessageBox::Ok;
    }
    void Inform(QWidget *parent, const QString &title, const QString &text) override {
        QMessageBox::information(parent, title, text, QMessageBox::Ok);
    }
    void Error(QWidget *parent, const QString &title, const QString &text) override {
        QMessageBox::critical(parent, title, text, QMessageBox::Ok);
    }
    QString OpenFileName(QWidget *parent, const QString &initialName, const QString &filter) override {
        return RunFileDialog(parent, initialName, filter, QFileDialog::ExistingFile, QFileDialog::AcceptOpen);
    }
    QString SaveFileName(QWidget *parent, const QString &initialName, const QString &filter) override {
        return RunFileDialog(parent, initialName, filter, QFileDialog::AnyFile, QFileDialog::AcceptSave);
    }
    int ExecModal(QDialog *dialog) override { return dialog->exec(); }
};

QtDialogs qtDialogs;
Dialogs *installed = nullptr;

}  // namespace

Dialogs &AppDialogs() { return installed ? *installed : qtDialogs; }

void InstallDialogs(Dialogs *dialogs) { installed = dialogs; }

QString NcFileFilter() { return QStringLiteral("*.* (*);;*.cnc (*.cnc);;*.nc (*.nc)"); }
