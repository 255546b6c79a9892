// The transfer journal as the window shows it: a read-only table, newest
// entry first.
#pragma once

#include <QTableWidget>

class JournalView : public QTableWidget {
    Q_OBJECT
public:
    explicit JournalView(QWidget *parent = nullptr);

    // Reads the journal file again; a file that cannot be read leaves the
    // table empty and gives the reason.
    QString Reload(const QString &path);
};
