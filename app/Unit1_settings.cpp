// What the window remembers between starts, and the transfer journal it
// shares with dncctl.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSpinBox>

#include "app/Unit1.h"
#include "app/app_settings.h"
#include "app/dialogs.h"
#include "journal/journal.h"
#include "app/journal_view.h"
#include "link/serial_link.h"
#include "link/udp_link.h"

namespace {

// The UDP port the link sends to unless the window was told another.
constexpr uint16_t kControllerPort = 2232;

}  // namespace

void TForm1::RestoreSettings() {
    QSettings &s = *settings_;
    // A device given on the command line wins over the remembered one.
    const QString device = s.value(settings_keys::kSerialDevice).toString();
    if (options_.serialDevice.isEmpty() && !device.isEmpty()) {
        int index = CB1->findText(device);
        if (index < 0 && device.startsWith(QChar('/'))) {
            // Unplugged since: offered anyway, so the next start with the
            // adapter in place finds it selected; opening it tells why not.
            CB1->addItem(device, device);
            index = CB1->count() - 1;
        }
        if (index >= 0) CB1->setCurrentIndex(index);
    }
    if (const int baud = CB2->findText(s.value(settings_keys::kBaudRate).toString()); baud >= 0)
        CB2->setCurrentIndex(baud);
    int id = 0;
    if (ParseDeviceIdText(s.value(settings_keys::kDeviceId).toString(), &id) && id >= 1 && id <= 100)
        CB3->setEditText(QString::number(id));
    const int wait = StoredNetWait(s);
    NetWait->setValue(wait);
    session_.SetUdpWait(wait);
    SetDialogFolder(LocalFolder());
    restoreGeometry(s.value(settings_keys::kGeometry).toByteArray());
    if (const QString error = JournalView1->Reload(JournalFile()); !error.isEmpty()) AddLogLine(error);
}

void TForm1::ConnectSettings() {
    connect(CB1, &QComboBox::currentIndexChanged, this,
            [this] { settings_->setValue(settings_keys::kSerialDevice, CB1->currentText()); });
    connect(CB2, &QComboBox::currentIndexChanged, this,
            [this] { settings_->setValue(settings_keys::kBaudRate, CB2->currentText()); });
    // Only a device ID the set-up accepted is remembered.
    connect(CB3, &QComboBox::editTextChanged, this, [this] {
        int id = 0;
        if (ParseDeviceIdText(CB3->currentText(), &id) && id >= 1 && id <= 100)
            settings_->setValue(settings_keys::kDeviceId, QString::number(id));
    });
    connect(NetWait, &QSpinBox::valueChanged, this, [this](int ms) {
        session_.SetUdpWait(ms);
        settings_->setValue(settings_keys::kNetWait, ms);
    });
    connect(CheckVerify, &QCheckBox::toggled, this, [this](bool on) {
        const bool serial = session_.Selected() == nccmd::LinkType::kSerial;
        settings_->setValue(serial ? settings_keys::kVerifySerial : settings_keys::kVerify, on);
    });
    connect(LogTabs, &QTabWidget::currentChanged, this, [this] {
        // dncctl may have added lines since.
        if (LogTabs->currentWidget() == JournalView1) JournalView1->Reload(JournalFile());
    });
}

QString TForm1::LocalFolder() const { return settings_->value(settings_keys::kLocalFolder).toString(); }

void TForm1::RememberLocalFile(const QString &file) {
    const QString folder = QFileInfo(file).absolutePath();
    settings_->setValue(settings_keys::kLocalFolder, folder);
    SetDialogFolder(folder);
}

QString TForm1::JournalFile() const { return QString::fromStdString(journal::JournalPath()); }

void TForm1::WriteJournal(const char *operation, const QString &remotePath, const QString &localFile, bool hasData,
                          uint64_t bytes, const std::string &sha256, const QString &result) {
    journal::Entry entry;
    entry.program = "dncpanel";
    entry.operation = operation;
    entry.deviceId = std::to_string(DeviceId);
    if (session_.Selected() == nccmd::LinkType::kUdp) {
        entry.link = "udp";
        const uint16_t port = options_.udpPort != 0 ? options_.udpPort : kControllerPort;
        entry.address = ip_.toStdString() + ":" + std::to_string(port);
    } else {
        entry.link = "serial";
        entry.address = std::string(dnclink::SerialDevicePath()) + " " + CB2->currentText().toStdString();
    }
    entry.remotePath = remotePath.toStdString();
    entry.localFile = localFile.isEmpty() ? std::string() : QFileInfo(localFile).absoluteFilePath().toStdString();
    if (hasData) {
        entry.bytes = std::to_string(bytes);
        entry.sha256 = sha256;
    }
    entry.result = result.toStdString();
    std::string error;
    if (!journal::Append(entry, &error)) {
        AddLogLine(QStringLiteral("Journal: %1").arg(QString::fromStdString(error)));
        return;
    }
    JournalView1->Reload(JournalFile());
}
