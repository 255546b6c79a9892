// TForm3: the address book dialog. One grid row for every device ID 1..100;
// the user edits addresses (or clears them), never the device IDs.
#pragma once

#include <QDialog>

class QPushButton;
class QTableWidget;
class QTableWidgetItem;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);

    QTableWidget *ValueList1;
    QPushButton *BitBtn1;
    QPushButton *BitBtn2;
    QPushButton *BitBtn3;  // hidden: holds the load-into-grid action
    QPushButton *BitBtn4;  // hidden: holds the save-from-grid action

    void FormCreate();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();

    // The grid's value for a device ID, empty when it has no row.
    QString GridValue(int id) const;

    void reject() override;  // Escape and the close box act as Cancel

private:
    void SetGridValue(int id, const QString &value);
    void ValueEdited(QTableWidgetItem *item);
    bool filling_ = false;
};

// An address the book accepts: a dotted IPv4 address, "0" (a device the
// device search leaves out) or nothing.
bool IsAddressBookValue(const QString &text);
