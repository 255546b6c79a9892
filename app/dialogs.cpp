#include "dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

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
        QFileDialog dialog(parent, QString(), QString(), filter);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.selectFile(initialName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return dialog.selectedFiles().first();
    }
    QString SaveFileName(QWidget *parent, const QString &initialName, const QString &filter) override {
        QFileDialog dialog(parent, QString(), QString(), filter);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.selectFile(initialName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return dialog.selectedFiles().first();
    }
    int ExecModal(QDialog *dialog) override { return dialog->exec(); }
};

QtDialogs qtDialogs;
Dialogs *installed = nullptr;

}  // namespace

Dialogs &AppDialogs() { return installed ? *installed : qtDialogs; }

void InstallDialogs(Dialogs *dialogs) { installed = dialogs; }

QString NcFileFilter() { return QStringLiteral("*.* (*);;*.cnc (*.cnc);;*.nc (*.nc)"); }
