// Deleting files, creating and deleting directories on the controller, from
// the listing's popup menu. The controller's own system file and folders are
// never deleted from here.
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeWidget>

#include "Unit1.h"
#include "Unit2.h"
#include "dialogs.h"
#include "gbk_text.h"
#include "journal.h"
#include "nc_commands.h"
#include "request_scope.h"

namespace {

// Compared with the item's caption exactly, case included, in any directory.
bool IsProtectedFile(const QString &caption) { return caption == QStringLiteral("QVTROM.BIN"); }

bool IsProtectedDirectory(const QString &caption) {
    return caption == QStringLiteral("QVT") || caption == QStringLiteral("PRG");
}

QString Word(std::string_view word) { return QString::fromLatin1(word.data(), static_cast<qsizetype>(word.size())); }

}  // namespace

bool TForm1::CheckCommandText(const QString &text) {
    QString problem;
    if (const QString character = FirstNonGbkCharacter(text); !character.isEmpty())
        problem = NonGbkRefusal(QStringLiteral("command text"), character);
    else if (ToGbk(text).size() > kMaxRemotePathLength)
        problem = QStringLiteral("The command text is too long (at most %1 characters):\n%2")
                      .arg(kMaxRemotePathLength)
                      .arg(text);
    if (problem.isEmpty()) return true;
    AppDialogs().Error(this, QStringLiteral("Error"), problem);
    return false;
}

void TForm1::SendStorageCommand(uint8_t (*command)(uint8_t, const char *), const QString &text,
                                const char *operation, const QString &journalPath) {
    if (!CheckCommandText(text)) return;
    if (!BeginRequest()) return;  // a request may have started while a box was open
    RequestScope scope(*this);
    const QByteArray bytes = ToGbk(text);
    const uint8_t code = command(DeviceId, bytes.constData());
    ShowResultCode(code);
    // The command's own outcome, not the refresh's.
    WriteJournal(operation, journalPath, {}, false, 0, {}, StatusPanel1->text());
    if (code != 0) return;
    ReadNcDirectory(DeviceId, ListingRequest());  // shows its own result
}

void TForm1::N5Click() {
    const QTreeWidgetItem *item = FirstSelectedItem(ListView1);
    if (!item || ItemType(item) != nccmd::kAttributeFile) return;
    if (!BeginRequest()) return;
    const QString caption = item->text(kColumnFile);
    const QString text = Word(nccmd::kDeleteFileWord) + CurrentNcPath + caption;
    const bool confirmed =
        AppDialogs().Confirm(this, QStringLiteral("删除远程文件？"), QStringLiteral("确定删除该远程文件吗"));
    // Refused whatever the answer was.
    if (IsProtectedFile(caption)) {
        AppDialogs().Error(this, QStringLiteral("Error"), QStringLiteral("该文件为系统文件不能删除!!!"));
        return;
    }
    if (!confirmed) return;
    SendStorageCommand(&nccmd::NcDeleteFile, text, journal::kRemove, CurrentNcPath + caption);
}

void TForm1::NC1Click() {
    // Any item will do, but one must be selected.
    if (!FirstSelectedItem(ListView1)) return;
    if (!BeginRequest()) return;
    Form2->Edit1->setText(QStringLiteral("NewDir"));
    // Also the dialog's local save (3) goes on to create the directory.
    if (AppDialogs().ExecModal(Form2) == TForm2::kResultCancel) return;
    const QString name = Form2->Edit1->text();
    if (name.isEmpty()) {
        // The text would name the current directory itself.
        AppDialogs().Error(this, QStringLiteral("Error"), QStringLiteral("The directory name must not be empty."));
        return;
    }
    const QString text = Word(nccmd::kCreateDirWord) + CurrentNcPath + name;
    if (!AppDialogs().Confirm(this, QStringLiteral("Create Dir？"), QStringLiteral("Create NC Dir?"))) return;
    SendStorageCommand(&nccmd::NcCreateDir, text, journal::kMakeDir, CurrentNcPath + name);
}

void TForm1::N7Click() {
    const QTreeWidgetItem *item = FirstSelectedItem(ListView1);
    if (!item || ItemType(item) != nccmd::kAttributeDirectory) return;
    if (!BeginRequest()) return;
    const QString caption = item->text(kColumnFile);
    // No final "\": the controller takes the directory's name, not its content.
    const QString text = Word(nccmd::kDeleteDirWord) + CurrentNcPath + caption;
    const bool confirmed = AppDialogs().Confirm(this, QStringLiteral("Delete Dir？"), QStringLiteral("Delete NC Dir?"));
    if (IsProtectedDirectory(caption)) {
        AppDialogs().Error(this, QStringLiteral("Error"), QStringLiteral("NC SYSTEM DIR Cannot Delete!!!"));
        return;
    }
    if (!confirmed) return;
    SendStorageCommand(&nccmd::NcDeleteDir, text, journal::kRemoveDir, CurrentNcPath + caption);
}
