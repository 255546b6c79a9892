// Shows a directory listing (20-byte entries back to back) in ListView1.
#pragma once

#include <QIcon>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>

class QByteArray;

class QTreeWidget;
class QTreeWidgetItem;

inline constexpr int kListingMaxEntries = 1024;
inline constexpr uint32_t kListingBufferSize = kListingMaxEntries * 20;  // 20480

enum ListColumn { kColumnFile = 0, kColumnSize = 1, kColumnType = 2 };

// Item pictures of ImageList1: 0 directory, 1 file, 2 device.
struct ImageList {
    QIcon images[3];
};

// Replaces the list's items by the whole entries of the first `total`
// bytes (at most 1024 entries; a trailing partial entry is ignored).
// Attributes up to 16 show as a directory (name only), above 16 as a file
// ("name.ext"); Size is whole KiB, Type the attribute in decimal.
void ShowListing(QTreeWidget *list, const ImageList &images, const uint8_t *listing, uint32_t total);

// Reads the listing `request` ("%DirList%%\PRG\") of the device into
// `buffer`; `shown` gets the bytes to show: only what actually arrived, so an
// announced size larger than that never shows stale entries. The request's
// result code.
uint8_t FetchListing(uint8_t deviceId, const QByteArray &request, uint8_t *buffer, size_t size, uint32_t *shown);

// The size in bytes the controller listed for the item.
quint64 ItemSize(const QTreeWidgetItem *item);

// The first selected item in list order (the list allows several), or null.
QTreeWidgetItem *FirstSelectedItem(const QTreeWidget *list);

// The Type column read back as a number: 16 directory, 32 file, anything
// else is neither.
int ItemType(const QTreeWidgetItem *item);
