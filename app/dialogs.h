// Every box the program shows goes through one small interface, so the
// window tests can answer them; the program installs the real Qt dialogs.
#pragma once

#include <QString>

class QDialog;
class QWidget;

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A question with OK and Cancel; true for OK.
    virtual bool Confirm(QWidget *parent, const QString &title, const QString &text) = 0;
    // A plain message with an OK button.
    virtual void Inform(QWidget *parent, const QString &title, const QString &text) = 0;
    // An error with the error icon and an OK button.
    virtual void Error(QWidget *parent, const QString &title, const QString &text) = 0;
    // The chosen file's full name, or empty when the user cancelled.
    virtual QString OpenFileName(QWidget *parent, const QString &initialName, const QString &filter) = 0;
    virtual QString SaveFileName(QWidget *parent, const QString &initialName, const QString &filter) = 0;
    // Runs a modal form and returns its result code.
    virtual int ExecModal(QDialog *dialog) = 0;
};

// The process-wide instance; the real Qt dialogs unless a test installed
// its own. Not owned: the installer keeps it alive.
Dialogs &AppDialogs();
void InstallDialogs(Dialogs *dialogs);  // null restores the Qt dialogs

// The framework's filter "*.*|*.*|*.cnc|*.cnc|*.nc|*.nc" in Qt's notation.
QString NcFileFilter();
