#include "app/journal_view.h"

#include <QHeaderView>

#include "journal/journal.h"

namespace {
// A table of many thousand rows redraws slowly; older entries stay in the
// file and dncctl log prints them all.
constexpr size_t kMaxRows = 2000;
}  // namespace

JournalView::JournalView(QWidget *parent) : QTableWidget(parent) {
    setObjectName(QStringLiteral("JournalView"));
    QStringList titles;
    for (const std::string &name : journal::ColumnNames()) titles.append(QString::fromStdString(name));
    setColumnCount(static_cast<int>(titles.size()));
    setHorizontalHeaderLabels(titles);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    setWordWrap(false);
}

QString JournalView::Reload(const QString &path) {
    std::string error;
    const std::vector<journal::Entry> entries = journal::ReadAll(path.toStdString(), &error);
    const size_t rows = std::min(entries.size(), kMaxRows);
    setRowCount(static_cast<int>(rows));
    for (size_t row = 0; row < rows; ++row) {
        const journal::Entry &e = entries[entries.size() - 1 - row];  // newest first
        const std::string fields[] = {e.time,       e.program,   e.operation, e.deviceId, e.link,  e.address,
                                      e.remotePath, e.localFile, e.bytes,     e.sha256,   e.result};
        for (int column = 0; column < columnCount(); ++column) {
            auto *item = new QTableWidgetItem(QString::fromStdString(fields[column]));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            setItem(static_cast<int>(row), column, item);
        }
    }
    resizeColumnsToContents();
    return QString::fromStdString(error);
}
