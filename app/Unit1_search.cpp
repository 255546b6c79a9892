// Device search over a range of device IDs, and picking a found device.
#include <QLineEdit>
#include <QComboBox>
#include <QProgressBar>
#include <QSettings>
#include <QTreeWidget>
#include <algorithm>
#include <string>

#include "app/Unit1.h"
#include "app/address_book.h"
#include "app/app_settings.h"
#include "nccmd/nc_commands.h"
#include "app/request_scope.h"

namespace {

// IDs from here on are never asked.
constexpr int kSearchLimit = 100;

// The address book marks a device that must not be searched through with
// the text "0".
constexpr const char *kNoSearchAddress = "0";

}  // namespace

void TForm1::BitBtn2Click() {
    if (!BeginRequest()) return;
    int firstText = 0;
    int lastText = 0;
    if (!ReadIntegerText(Edit1->text(), &firstText) || !ReadIntegerText(Edit2->text(), &lastText)) return;
    // 8-bit values: 260 reads as 4.
    const int first = static_cast<uint8_t>(firstText);
    const int last = static_cast<uint8_t>(lastText);
    RequestScope scope(*this);

    ListView2->clear();
    // Every request goes to the current device's address; only the device
    // address inside the frame changes from ID to ID.
    const std::string address = AddressText(DeviceId);
    const bool network = session_.Selected() == nccmd::LinkType::kUdp;
    if (network) session_.SetUdpAddress(address);
    session_.BeginSearch();
    // A last ID of 0 still gets a range: an empty one would show the bar's
    // endless "busy" animation.
    ProgressBar1->setRange(0, std::max(last, 1));
    ProgressBar1->setValue(0);

    for (int id = first; id <= last && id < kSearchLimit; ++id) {
        if (address == kNoSearchAddress) continue;
        session_.SetUdpAddress(address);
        if (nccmd::NcSearchId(static_cast<uint8_t>(id)) == 0) {
            auto *item = new QTreeWidgetItem(ListView2, QStringList{QString::number(id)});
            item->setIcon(0, ImageList1.images[2]);
        }
        ProgressBar1->setValue(std::min(ProgressBar1->value() + 1, ProgressBar1->maximum()));
        // Each found device shows at once, not at the end of the search.
        ListView2->viewport()->repaint();
    }
    ProgressBar1->setValue(ProgressBar1->maximum());

    if (network) session_.SetUdpAddress(address);
    session_.EndSearch();
}

void TForm1::ListView2DblClick() {
    const QTreeWidgetItem *item = FirstSelectedItem(ListView2);
    if (!item) return;
    if (!BeginRequest()) return;
    bool ok = false;
    const int id = item->text(0).toInt(&ok);
    if (!ok) return;
    DeviceId = static_cast<uint8_t>(id);
    ip_ = QString::fromLatin1(AddressText(DeviceId));
    session_.SetUdpAddress(ip_.toLatin1().toStdString());
    CB4->setEditText(ip_);
    // The listing on screen was the previous device's.
    ListView1->clear();
    lastAnswer_ = QDateTime();
    lastRequestUnanswered_ = false;
    UpdateConnectionLine();
    BitBtn7Click();
    // The set-up does not run again for this: the engine already serves
    // DeviceId (requests carry it) and the root just read would only be
    // reset to itself. CB3 and CB4 show the device now addressed.
    const QSignalBlocker block(CB3);
    CB3->setEditText(QString::number(DeviceId));
    if (DeviceId >= 1 && DeviceId <= 100) Settings().setValue(settings_keys::kDeviceId, QString::number(DeviceId));
}
