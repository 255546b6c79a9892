// The listing from the keyboard, and local files dropped on it.
//   Enter      as a double-click: enter the folder, or read the file
//   Backspace  up one folder
//   F5         read the folder again
//   Delete     delete the file or folder, with the menu's question and refusals
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "app/Unit1.h"
#include "nccmd/nc_protocol.h"
#include "app/request_scope.h"

namespace {

// The local files a drag carries; empty when it carries anything else.
QStringList DroppedFiles(const QMimeData *mime) {
    QStringList files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl &url : mime->urls()) {
        if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile()) return {};
        files.append(url.toLocalFile());
    }
    return files;
}

}  // namespace

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        if (ListingKey(static_cast<QKeyEvent *>(event)->key())) return true;
    } else if (watched == ListView1->viewport()) {
        if (ListingDrop(event)) return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TForm1::ListingKey(int key) {
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!FirstSelectedItem(ListView1)) return false;
        ListView1Click();  // a double-click is preceded by a click
        ListView1DblClick();
        return true;
    case Qt::Key_Backspace:
        BitBtn8Click();
        return true;
    case Qt::Key_F5:
        RefreshListing();
        return true;
    case Qt::Key_Delete: {
        const QTreeWidgetItem *item = FirstSelectedItem(ListView1);
        if (!item) return false;
        if (ItemType(item) == nccmd::kAttributeFile) N5Click();
        else if (ItemType(item) == nccmd::kAttributeDirectory) N7Click();
        return true;
    }
    default:
        return false;
    }
}

void TForm1::RefreshListing() {
    if (!BeginRequest()) return;
    RequestScope scope(*this);
    ReadNcDirectory(DeviceId, ListingRequest());
}

bool TForm1::ListingDrop(QEvent *event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (DroppedFiles(drag->mimeData()).isEmpty() || busy_ || dnc_) return false;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList files = DroppedFiles(drop->mimeData());
        if (files.isEmpty()) return false;
        drop->acceptProposedAction();
        // Not inside the drop: the dragging program waits until it returns.
        QTimer::singleShot(0, this, [this, files] { UploadLocalFiles(files); });
        return true;
    }
    default:
        return false;
    }
}

void TForm1::UploadLocalFiles(const QStringList &files) {
    if (files.isEmpty() || !BeginRequest()) return;
    const QStringList rest = files.mid(1);
    // The next file's dialog opens once this upload has ended whole, from
    // the event loop rather than inside the end of this one.
    UploadLocalFile(files.first(), [this, rest](const TransferOutcome &outcome) {
        if (outcome.whole) QTimer::singleShot(0, this, [this, rest] { UploadLocalFiles(rest); });
    });
}
