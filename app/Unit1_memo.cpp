// The memo as the user's work: a text that is not a whole program is marked
// and asked about before it is written anywhere, and unsaved edits are asked
// about before anything replaces them.
#include <QLabel>
#include <QPlainTextEdit>
#include <QSaveFile>

#include "app/Unit1.h"
#include "app/dialogs.h"
#include "app/gbk_text.h"

// Asked before an incomplete text is written to a local file or the
// controller: it would take the place of the whole program. No is the
// default answer.
bool IncompleteWriteConfirmed(TForm1 &form, QWidget *parent) {
    if (!form.MemoIncomplete()) return true;
    return AppDialogs().Ask(parent, QStringLiteral("Incomplete program"),
                            form.MemoState->text() + QStringLiteral("\nWrite it anyway?"));
}

bool TForm1::SaveMemoLocally(QWidget *parent) {
    if (!IncompleteWriteConfirmed(*this, parent)) return false;
    const QString chosen = AppDialogs().SaveFileName(parent, SelectedFileName, NcFileFilter());
    if (chosen.isEmpty()) return false;
    return WriteMemoToLocalFile(chosen, parent);
}

bool TForm1::WriteMemoToLocalFile(const QString &file, QWidget *parent) {
    const QString text = Memo1->toPlainText();
    if (const QString character = FirstNonGbkCharacter(text); !character.isEmpty()) {
        // The file would hold '?' in its place; the file the user had stays.
        AppDialogs().Error(parent, QStringLiteral("文件操作错误"), NonGbkRefusal(QStringLiteral("text"), character));
        return false;
    }
    // Written whole or not at all: a failed save never leaves half a
    // program in place of the file the user had.
    QSaveFile saved(file);
    const QByteArray bytes = MemoTextToGbk(text);
    if (!saved.open(QIODevice::WriteOnly) || saved.write(bytes) != bytes.size() || !saved.commit()) {
        AppDialogs().Error(parent, QStringLiteral("文件操作错误"),
                           QStringLiteral("Cannot write %1: %2").arg(file, saved.errorString()));
        return false;
    }
    RememberLocalFile(file);
    // The text is that file's now; what it lacks of a whole program it
    // still lacks.
    MemoSource source = memoSource_;
    source.kind = MemoSource::kLocal;
    source.path = file;
    Memo1->document()->setModified(false);
    SetMemoSource(source);
    return true;
}

bool TForm1::ConfirmDiscardMemo() {
    if (!Memo1->document()->isModified()) return true;
    switch (AppDialogs().AskUnsaved(this, QStringLiteral("Unsaved edits"),
                                    QStringLiteral("The text holds edits that are not saved. Save it to a local "
                                                   "file first?"))) {
    // A save that was cancelled or failed keeps the edits, and the action
    // that asked does not go on.
    case UnsavedAnswer::Save: return SaveMemoLocally(this);
    case UnsavedAnswer::Discard: return true;
    case UnsavedAnswer::Cancel: break;
    }
    return false;
}
