// Deleting files, creating and deleting directories on the controller, from
// the listing's popup menu. The controller's own system file and folders are
// never deleted from here.
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeWidget>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/dialogs.h"
#include "app/gbk_text.h"
#include "journal/journal.h"
#include "nccmd/nc_commands.h"
#include "app/request_scope.h"
#include "nccmd/system_names.h"

namespace {

// Compared with the item's caption exactly, case included, in any directory:
// the same rule as dncctl's.
bool IsProtectedFile(const QString &caption) {
    const QByteArray name = ToGbk(caption);
    return nccmd::IsSystemFile(std::string_view(name.constData(), static_cast<size_t>(name.size())));
}

bool IsProtectedDirectory(const QString &caption) {
    const QByteArray name = ToGbk(caption);
    return nccmd::IsSystemDir(std::string_view(name.constData(), static_cast<size_t>(name.size())));
}

// A listing entry's name field holds 8 bytes: a longer name shows cut.
constexpr int kListedNameBytes = 8;

// The question's own text, then what it is about.
QString Naming(const QString &question, const QString &path) { return question + QStringLiteral("\n") + path; }

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

QString TForm1::ListingContradiction(const QString &name, int type, bool shouldExist) const {
    const QByteArray wanted = ToGbk(name);
    bool listed = false;
    for (int i = 0; i < ListView1->topLevelItemCount() && !listed; ++i) {
        const QTreeWidgetItem *item = ListView1->topLevelItem(i);
        if (ItemType(item) != type) continue;
        const QString caption = item->text(kColumnFile);
        // The controller may list names in its own case, and cuts a long
        // folder name to what its entry holds.
        listed = caption.compare(name, Qt::CaseInsensitive) == 0 ||
                 (type == nccmd::kAttributeDirectory && wanted.size() > kListedNameBytes &&
                  ToGbk(caption).compare(wanted.left(kListedNameBytes), Qt::CaseInsensitive) == 0);
    }
    const QString what = type == nccmd::kAttributeDirectory ? QStringLiteral("folder") : QStringLiteral("file");
    if (!shouldExist && listed)
        return QStringLiteral("Error: device %1 answered Operation Successful, but its listing of %2 still shows the "
                              "%3 %4")
            .arg(QString::number(DeviceId), CurrentNcPath, what, name);
    // A full listing may hold more than it shows.
    if (shouldExist && !listed && ListView1->topLevelItemCount() < kListingMaxEntries)
        return QStringLiteral("Error: device %1 answered Operation Successful, but its listing of %2 does not show "
                              "the %3 %4")
            .arg(QString::number(DeviceId), CurrentNcPath, what, name);
    return {};
}

void TForm1::SendStorageCommand(uint8_t (*command)(uint8_t, const char *), const QString &text,
                                const char *operation, const QString &name, int type, bool shouldExist) {
    if (!CheckCommandText(text)) return;
    if (!BeginRequest()) return;  // a request may have started while a box was open
    RequestScope scope(*this);
    const QByteArray bytes = ToGbk(text);
    const uint8_t code = command(DeviceId, bytes.constData());
    ShowResultCode(code);
    // The command's own outcome, unless the listing read after it says
    // otherwise.
    QString outcome = StatusPanel1->text();
    if (code == 0 && ReadNcDirectory(DeviceId, ListingRequest()) == 0) {  // shows its own result
        const QString contradiction = ListingContradiction(name, type, shouldExist);
        if (!contradiction.isEmpty()) {
            StatusPanel1->setText(contradiction);
            AddLogLine(contradiction + QStringLiteral(" (after %1)").arg(text));
            outcome = contradiction;
        }
    }
    WriteJournal(operation, CurrentNcPath + name, {}, false, 0, {}, outcome);
}

void TForm1::N5Click() {
    const QTreeWidgetItem *item = FirstSelectedItem(ListView1);
    if (!item || ItemType(item) != nccmd::kAttributeFile) return;
    if (!BeginRequest()) return;
    const QString caption = item->text(kColumnFile);
    const QString text = Word(nccmd::kDeleteFileWord) + CurrentNcPath + caption;
    const bool confirmed = AppDialogs().Confirm(this, QStringLiteral("删除远程文件？"),
                                                Naming(QStringLiteral("确定删除该远程文件吗"), CurrentNcPath + caption));
    // Refused whatever the answer was.
    if (IsProtectedFile(caption)) {
        AppDialogs().Error(this, QStringLiteral("Error"), QStringLiteral("该文件为系统文件不能删除!!!"));
        return;
    }
    if (!confirmed) return;
    SendStorageCommand(&nccmd::NcDeleteFile, text, journal::kRemove, caption, nccmd::kAttributeFile, false);
}

void TForm1::NC1Click() {
    // The folder is created in the current folder, whatever is selected,
    // also from an empty area of an empty folder's listing.
    if (!BeginRequest()) return;
    Form2->Propose(QStringLiteral("NewDir"), true);
    // Also the dialog's local save (3) goes on to create the directory.
    if (AppDialogs().ExecModal(Form2) == TForm2::kResultCancel) return;
    const QString name = Form2->ChosenPath();
    if (name.isEmpty()) {
        // The text would name the current directory itself.
        AppDialogs().Error(this, QStringLiteral("Error"), QStringLiteral("The directory name must not be empty."));
        return;
    }
    const QString text = Word(nccmd::kCreateDirWord) + CurrentNcPath + name;
    if (!AppDialogs().Confirm(this, QStringLiteral("Create Dir？"), QStringLiteral("Create NC Dir?"))) return;
    SendStorageCommand(&nccmd::NcCreateDir, text, journal::kMakeDir, name, nccmd::kAttributeDirectory, true);
}

void TForm1::N7Click() {
    const QTreeWidgetItem *item = FirstSelectedItem(ListView1);
    if (!item || ItemType(item) != nccmd::kAttributeDirectory) return;
    if (!BeginRequest()) return;
    const QString caption = item->text(kColumnFile);
    // No final "\": the controller takes the directory's name, not its content.
    const QString text = Word(nccmd::kDeleteDirWord) + CurrentNcPath + caption;
    const bool confirmed = AppDialogs().Confirm(this, QStringLiteral("Delete Dir？"),
                                                Naming(QStringLiteral("Delete NC Dir?"), CurrentNcPath + caption));
    if (IsProtectedDirectory(caption)) {
        AppDialogs().Error(this, QStringLiteral("Error"), QStringLiteral("NC SYSTEM DIR Cannot Delete!!!"));
        return;
    }
    if (!confirmed) return;
    SendStorageCommand(&nccmd::NcDeleteDir, text, journal::kRemoveDir, caption, nccmd::kAttributeDirectory, false);
}
