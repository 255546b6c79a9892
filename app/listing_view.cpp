#include "app/listing_view.h"

#include <QByteArray>
#include <QTreeWidget>
#include <algorithm>

#include "app/gbk_text.h"
#include "nccmd/nc_commands.h"

namespace {

// Controller file names are GBK text.
QString FieldText(const std::string &field) { return FromGbk(QByteArray(field.data(), qsizetype(field.size()))); }

}  // namespace

void ShowListing(QTreeWidget *list, const ImageList &images, const uint8_t *listing, uint32_t total) {
    using namespace nccmd;
    const uint32_t count = std::min<uint32_t>(total / kListingEntrySize, kListingMaxEntries);
    list->setUpdatesEnabled(false);
    list->clear();
    QList<QTreeWidgetItem *> items;
    items.reserve(static_cast<qsizetype>(count));
    for (uint32_t i = 0; i < count; ++i) {
        const ListingEntry entry = DecodeListingEntry(listing + i * kListingEntrySize);
        const QString name = FieldText(entry.name);
        auto *item = new QTreeWidgetItem;
        if (entry.IsDirectory()) {
            item->setIcon(kColumnFile, images.images[0]);
            item->setText(kColumnFile, name);
        } else {
            item->setIcon(kColumnFile, images.images[1]);
            item->setText(kColumnFile, name + QChar('.') + FieldText(entry.extension));
        }
        item->setText(kColumnSize, QStringLiteral("%1 KB").arg(entry.size >> 10));
        // The column shows whole KiB; the exact size is kept for the
        // overwrite question.
        item->setData(kColumnSize, Qt::UserRole, QVariant::fromValue<quint64>(entry.size));
        item->setText(kColumnType, QString::number(entry.attribute));
        item->setTextAlignment(kColumnSize, Qt::AlignCenter);
        item->setTextAlignment(kColumnType, Qt::AlignCenter);
        items.append(item);
    }
    list->addTopLevelItems(items);
    list->setUpdatesEnabled(true);
}

QTreeWidgetItem *FirstSelectedItem(const QTreeWidget *list) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->isSelected()) return list->topLevelItem(i);
    }
    return nullptr;
}

quint64 ItemSize(const QTreeWidgetItem *item) { return item ? item->data(kColumnSize, Qt::UserRole).toULongLong() : 0; }

int ItemType(const QTreeWidgetItem *item) {
    bool ok = false;
    const int type = item ? item->text(kColumnType).toInt(&ok) : 0;
    return ok ? type : -1;
}

uint8_t FetchListing(uint8_t deviceId, const QByteArray &request, uint8_t *buffer, size_t size, uint32_t *shown) {
    uint32_t total = 0;
    size_t received = 0;
    const uint8_t code = nccmd::NcListDir(deviceId, request.constData(), &total, buffer, size, &received);
    *shown = code == 0 ? static_cast<uint32_t>(std::min<size_t>(total, received)) : 0;
    return code;
}
