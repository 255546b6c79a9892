// The remote directory browser: one directory of the controller at a time
// in ListView1, the path of that directory, and the file last clicked.
#include <QProgressBar>
#include <QTreeWidget>
#include <algorithm>

#include "app/Unit1.h"
#include "app/dialogs.h"
#include "app/request_scope.h"
#include "app/gbk_text.h"

namespace {

// The listing of the last ReadNcDirectory; filled once per listing, never
// reallocated.
uint8_t ListingBuffer[kListingBufferSize];

}  // namespace

bool TForm1::CheckRemotePath(const QString &path, int limit, const QString &what) {
    QString problem;
    if (const QString character = FirstNonGbkCharacter(path); !character.isEmpty())
        problem = NonGbkRefusal(QStringLiteral("remote %1 path").arg(what), character);
    else if (ToGbk(path).size() > limit)
        problem = QStringLiteral("The remote %1 path is too long (at most %2 characters):\n%3").arg(what).arg(limit).arg(path);
    else if (path.isEmpty())
        problem = QStringLiteral("The remote %1 path must not be empty.").arg(what);
    if (problem.isEmpty()) return true;
    AppDialogs().Error(this, QStringLiteral("Error"), problem);
    return false;
}

uint8_t TForm1::ReadNcDirectory(uint8_t deviceId, const QString &request) {
    uint32_t shown = 0;
    const uint8_t code = FetchListing(deviceId, ToGbk(request), ListingBuffer, sizeof ListingBuffer, &shown);
    if (code != 0) {
        ShowResultCode(code);
        return code;
    }
    ShowListing(ListView1, ImageList1, ListingBuffer, shown);
    ProgressBar1->setValue(ProgressBar1->maximum());
    ShowResultCode(0);
    return 0;
}

void TForm1::BitBtn7Click() {
    if (!BeginRequest()) return;
    RequestScope scope(*this);
    CurrentNcPath = QStringLiteral("\\");
    ShowPath();
    ReadNcDirectory(DeviceId, ListingRequest());
}

void TForm1::BitBtn8Click() {
    if (CurrentNcPath == QStringLiteral("\\")) return;
    if (!BeginRequest()) return;
    RequestScope scope(*this);
    QString parent = CurrentNcPath;
    if (parent.endsWith(QChar('\\'))) parent.chop(1);
    parent.truncate(parent.lastIndexOf(QChar('\\')) + 1);
    if (parent.isEmpty()) parent = QStringLiteral("\\");
    CurrentNcPath = parent;
    ReadNcDirectory(DeviceId, ListingRequest());
    ShowPath();
}

void TForm1::ListView1Click() {
    const QTreeWidgetItem *item = FirstSelectedItem(ListView1);
    if (!item) return;
    SelectedFileName = ItemType(item) == nccmd::kAttributeFile ? item->text(kColumnFile) : QString();
}

void TForm1::ListView1DblClick() {
    const QTreeWidgetItem *item = FirstSelectedItem(ListView1);
    if (!item) return;
    const int type = ItemType(item);
    const QString caption = item->text(kColumnFile);
    if (type == nccmd::kAttributeDirectory) {
        const QString entered = CurrentNcPath + caption + QChar('\\');
        if (!BeginRequest()) return;
        if (!CheckRemotePath(entered, kMaxNcPathLength, QStringLiteral("directory"))) return;
        RequestScope scope(*this);
        const QString parent = CurrentNcPath;
        CurrentNcPath = entered;
        if (ReadNcDirectory(DeviceId, ListingRequest()) != 0) CurrentNcPath = parent;
        ShowPath();
    } else if (type == nccmd::kAttributeFile) {
        const QString path = CurrentNcPath + caption;
        if (!BeginRequest()) return;
        if (!CheckRemotePath(path, kMaxRemotePathLength, QStringLiteral("file"))) return;
        if (!AppDialogs().Confirm(this, QStringLiteral("读远程文件？"), QStringLiteral("确定读取远程文件吗？：%1").arg(path)))
            return;
        // The program read replaces the memo's text.
        if (!ConfirmDiscardMemo()) return;
        if (!BeginRequest()) return;  // a request may have started while the box was open
        ReadNcFile(DeviceId, path);
    }
}
