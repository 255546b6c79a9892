// Every box the program shows goes through one small interface, so the
// window tests can answer them; the program installs the real Qt dialogs.
#pragma once

#include <QString>

class QDialog;
class QWidget;

// The answer to "the text holds unsaved edits".
enum class UnsavedAnswer { Save, Discard, Cancel };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A question with OK and Cancel; true for OK.
    virtual bool Confirm(QWidget *parent, const QString &title, const QString &text) = 0;
    // A question with Yes and No where going on can destroy something: No
    // is the default button. True for Yes; unless a set of dialogs answers
    // it, No.
    virtual bool Ask(QWidget *parent, const QString &title, const QString &text);
    // A plain message with an OK button.
    virtual void Inform(QWidget *parent, const QString &title, const QString &text) = 0;
    // An error with the error icon and an OK button.
    virtual void Error(QWidget *parent, const QString &title, const QString &text) = 0;
    // The chosen file's full name, or empty when the user cancelled.
    virtual QString OpenFileName(QWidget *parent, const QString &initialName, const QString &filter) = 0;
    virtual QString SaveFileName(QWidget *parent, const QString &initialName, const QString &filter) = 0;
    // Save (locally), Discard or Cancel. Unless a set of dialogs answers
    // it, the edits are kept: Cancel.
    virtual UnsavedAnswer AskUnsaved(QWidget *parent, const QString &title, const QString &text);
    // Runs a modal form and returns its result code.
    virtual int ExecModal(QDialog *dialog) = 0;
};

// The process-wide instance; the real Qt dialogs unless a test installed
// its own. Not owned: the installer keeps it alive.
Dialogs &AppDialogs();
void InstallDialogs(Dialogs *dialogs);  // null restores the Qt dialogs

// The folder file dialogs open in when the proposed name has none: the
// last folder the user took a local file from.
void SetDialogFolder(const QString &folder);

// The framework's filter "*.*|*.*|*.cnc|*.cnc|*.nc|*.nc" in Qt's notation.
QString NcFileFilter();
