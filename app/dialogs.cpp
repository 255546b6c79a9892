#include "app/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

QString dialogFolder;

// The chosen file, or empty when the user cancelled.
QString RunFileDialog(QWidget *parent, const QString &initialName, const QString &filter,
                      QFileDialog::FileMode mode, QFileDialog::AcceptMode accept) {
    QFileDialog dialog(parent, QString(), dialogFolder, filter);
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
    bool Ask(QWidget *parent, const QString &title, const QString &text) override {
        return QMessageBox::warning(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
               QMessageBox::Yes;
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
    UnsavedAnswer AskUnsaved(QWidget *parent, const QString &title, const QString &text) override {
        QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                        parent);
        box.setDefaultButton(QMessageBox::Cancel);
        switch (box.exec()) {
        case QMessageBox::Save: return UnsavedAnswer::Save;
        case QMessageBox::Discard: return UnsavedAnswer::Discard;
        default: return UnsavedAnswer::Cancel;
        }
    }
    int ExecModal(QDialog *dialog) override { return dialog->exec(); }
};

QtDialogs qtDialogs;
Dialogs *installed = nullptr;

}  // namespace

bool Dialogs::Ask(QWidget *, const QString &, const QString &) { return false; }

UnsavedAnswer Dialogs::AskUnsaved(QWidget *, const QString &, const QString &) { return UnsavedAnswer::Cancel; }

Dialogs &AppDialogs() { return installed ? *installed : qtDialogs; }

void InstallDialogs(Dialogs *dialogs) { installed = dialogs; }

void SetDialogFolder(const QString &folder) { dialogFolder = folder; }

QString NcFileFilter() { return QStringLiteral("*.* (*);;*.cnc (*.cnc);;*.nc (*.nc)"); }
