// Where am I: the connection line in the status bar, the memo's source over
// the memo and in the window title, the popup menu's states, and Ctrl+S.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSignalBlocker>
#include <QTreeWidget>

#include "app/Unit1.h"
#include "app/app_settings.h"
#include "app/dialogs.h"
#include "nccmd/nc_protocol.h"
#include "link/serial_link.h"
#include "link/udp_link.h"

namespace {

// The UDP port the link sends to unless the window was told another.
constexpr uint16_t kControllerPort = 2232;

// A device answered unless nothing came (0xFF) or what came was no answer
// (0xA0..0xA9: a frame that failed its checks).
bool DeviceAnswered(uint8_t code) { return code != 0xFF && !(code >= 0xA0 && code <= 0xA9); }

}  // namespace

QString TForm1::LinkAddressText() const {
    if (session_.Selected() == nccmd::LinkType::kUdp) {
        const uint16_t port = options_.udpPort != 0 ? options_.udpPort : kControllerPort;
        return QStringLiteral("%1:%2").arg(ip_.isEmpty() ? QStringLiteral("(no address)") : ip_).arg(port);
    }
    return QStringLiteral("%1 at %2 baud")
        .arg(QString::fromLocal8Bit(dnclink::SerialDevicePath()),
             QString::fromLatin1(dnclink::BaudRateTable[CB2->currentIndex()].text));
}

QString TForm1::ConnectionText() const {
    const bool network = session_.Selected() == nccmd::LinkType::kUdp;
    QString where = LinkAddressText();
    if (!network && !dnclink::CurrentSerialConfig().open) where += QStringLiteral(" (not open)");
    QString answer = QStringLiteral("no answer");
    if (lastAnswer_.isValid()) {
        const QString time = lastAnswer_.toString(QStringLiteral("HH:mm:ss"));
        answer = lastRequestUnanswered_ ? QStringLiteral("no answer (last answer %1)").arg(time)
                                        : QStringLiteral("last answer %1").arg(time);
    }
    return QStringLiteral("%1 · device %2 · %3 · %4")
        .arg(network ? QStringLiteral("Net") : QStringLiteral("Com"))
        .arg(DeviceId)
        .arg(where, answer);
}

void TForm1::UpdateConnectionLine() {
    ConnectionLine->setText(ConnectionText());
    ConnectionLine->setToolTip(ConnectionLine->text());
    // Panel 0 reports the serial port; while the network carries the frames
    // a port error there is stale news about a link not in use.
    StatusPanel0->setVisible(session_.Selected() != nccmd::LinkType::kUdp);
}

void TForm1::NoteResult(uint8_t code) {
    if (DeviceAnswered(code)) {
        lastAnswer_ = QDateTime::currentDateTime();
        lastRequestUnanswered_ = false;
    } else {
        lastRequestUnanswered_ = true;
    }
    UpdateConnectionLine();
}

void TForm1::SetMemoSource(const MemoSource &source) {
    memoSource_ = source;
    MemoState->setText(source.partNote);
    MemoState->setVisible(!source.partNote.isEmpty());
    ShowMemoSource();
}

void TForm1::ShowMemoSource() {
    const bool modified = Memo1->document()->isModified();
    QString text;
    switch (memoSource_.kind) {
    case MemoSource::kRemote:
        text = QStringLiteral("Device %1: %2").arg(memoSource_.deviceId).arg(memoSource_.path);
        break;
    case MemoSource::kLocal:
        text = QStringLiteral("Local file: %1").arg(QDir::toNativeSeparators(memoSource_.path));
        break;
    case MemoSource::kDncView:
        text = QStringLiteral("DNC run to device %1").arg(memoSource_.deviceId);
        if (!memoSource_.path.isEmpty()) text += QStringLiteral(": ") + QDir::toNativeSeparators(memoSource_.path);
        break;
    case MemoSource::kNone:
        if (modified || !Memo1->document()->isEmpty()) text = QStringLiteral("New text, not saved anywhere");
        break;
    }
    MemoTitle->setText(text.isEmpty() ? QString() : text + (modified ? QStringLiteral(" *") : QString()));
    MemoTitle->setToolTip(MemoTitle->text());
    MemoTitle->setVisible(!text.isEmpty());
    // The title starts with the folder shown, as it always did; the memo's
    // source follows, with the platform's modified mark.
    if (text.isEmpty()) {
        setWindowTitle(CurrentNcPath);
    } else {
        setWindowTitle(CurrentNcPath + QStringLiteral("  —  ") + text + QStringLiteral("[*]"));
        setWindowModified(modified);
    }
}

void TForm1::UpdateMenuStates() {
    const bool free = !busy_ && !dnc_;
    const QTreeWidgetItem *item = FirstSelectedItem(ListView1);
    const int type = item ? ItemType(item) : -1;
    const bool file = type == nccmd::kAttributeFile;
    const bool directory = type == nccmd::kAttributeDirectory;
    N1->setEnabled(free);
    N2->setEnabled(free && CurrentNcPath != QStringLiteral("\\"));
    N4->setEnabled(free && (file || directory));
    N5->setEnabled(free && file);
    NC1->setEnabled(free);  // in the current folder, whatever is selected
    N7->setEnabled(free && directory);
}

void TForm1::ShowVerifyForLink() {
    // The serial link cannot see most line damage in a request, so its
    // uploads are read back unless the user said otherwise; the network's
    // datagrams carry their own checksum. Each link remembers its choice.
    const bool serial = session_.Selected() == nccmd::LinkType::kSerial;
    const QSignalBlocker block(CheckVerify);
    CheckVerify->setChecked(
        settings_->value(serial ? settings_keys::kVerifySerial : settings_keys::kVerify, serial).toBool());
}

void TForm1::SaveMemo() {
    if (!BeginRequest()) return;
    switch (memoSource_.kind) {
    case MemoSource::kRemote:
        if (memoSource_.deviceId != DeviceId) {
            AppDialogs().Error(this, QStringLiteral("Error"),
                               QStringLiteral("The text came from device %1, but device %2 is addressed now.\n"
                                              "Use Save As to choose where it goes.")
                                   .arg(memoSource_.deviceId)
                                   .arg(DeviceId));
            return;
        }
        if (Memo1->document()->isEmpty()) {
            AppDialogs().Error(this, QStringLiteral("Error"), QStringLiteral("下载文件不能为空!!!"));
            return;
        }
        SaveMemoToController(memoSource_.path);
        return;
    case MemoSource::kLocal:
        if (!IncompleteWriteConfirmed(*this, this)) return;
        WriteMemoToLocalFile(memoSource_.path, this);
        return;
    case MemoSource::kDncView:
    case MemoSource::kNone:
        // No file to go back to: the user says where.
        BitBtn10Click();
        return;
    }
}
