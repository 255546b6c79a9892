#include "app/Unit3.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/address_book.h"
#include "app/dialogs.h"

namespace {
constexpr int kKeyColumn = 0;
constexpr int kValueColumn = 1;
// The accepted text of a value cell, to put back when an edit is refused.
constexpr int kAcceptedRole = Qt::UserRole + 1;
}  // namespace

TForm3::TForm3(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Form3"));
    resize(483, 538);

    ValueList1 = new QTableWidget(0, 2, this);
    ValueList1->setObjectName(QStringLiteral("ValueList1"));
    ValueList1->setHorizontalHeaderLabels({QStringLiteral("NCDeviceID"), QStringLiteral("NCDeviceIPAddr")});
    ValueList1->setColumnWidth(kKeyColumn, 150);
    ValueList1->setColumnWidth(kValueColumn, 205);
    ValueList1->horizontalHeader()->setStretchLastSection(true);
    ValueList1->verticalHeader()->hide();
    ValueList1->setSelectionBehavior(QAbstractItemView::SelectItems);
    ValueList1->setSelectionMode(QAbstractItemView::SingleSelection);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn3 = new QPushButton(QStringLiteral("Read"), this);
    BitBtn3->setObjectName(QStringLiteral("BitBtn3"));
    BitBtn3->hide();
    BitBtn4 = new QPushButton(QStringLiteral("Save"), this);
    BitBtn4->setObjectName(QStringLiteral("BitBtn4"));
    BitBtn4->hide();
    BitBtn1->setAutoDefault(false);
    BitBtn2->setAutoDefault(false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ValueList1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn3);
    buttons->addWidget(BitBtn4);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    layout->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm3::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm3::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm3::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm3::BitBtn4Click);
    connect(ValueList1, &QTableWidget::itemChanged, this, &TForm3::ValueEdited);

    FormCreate();
}

void TForm3::FormCreate() { BitBtn3Click(); }

void TForm3::BitBtn1Click() {
    BitBtn4Click();
    done(QDialog::Accepted);
}

void TForm3::BitBtn2Click() {
    BitBtn3Click();
    done(QDialog::Rejected);
}

void TForm3::reject() { BitBtn2Click(); }

void TForm3::BitBtn3Click() {
    LoadAddressBook();
    filling_ = true;
    for (int id = 1; id < kAddressBookEntries; ++id) SetGridValue(id, QString::fromLatin1(AddressText(id)));
    filling_ = false;
}

bool IsAddressBookValue(const QString &text) {
    // "0" keeps the device out of the device search.
    if (text.isEmpty() || text == QStringLiteral("0")) return true;
    static const QRegularExpression dotted(QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const QRegularExpressionMatch match = dotted.match(text);
    if (!match.hasMatch()) return false;
    for (int part = 1; part <= 4; ++part)
        if (match.captured(part).toInt() > 255) return false;
    return true;
}

void TForm3::BitBtn4Click() {
    for (int id = 1; id < kAddressBookEntries; ++id) SetAddressText(id, GridValue(id).toLatin1().toStdString());
    SaveAddressBook();
}

QString TForm3::GridValue(int id) const {
    const QString key = QString::number(id);
    for (int row = 0; row < ValueList1->rowCount(); ++row) {
        const QTableWidgetItem *keyItem = ValueList1->item(row, kKeyColumn);
        if (keyItem && keyItem->text() == key) {
            const QTableWidgetItem *value = ValueList1->item(row, kValueColumn);
            return value ? value->text() : QString();
        }
    }
    return {};
}

void TForm3::SetGridValue(int id, const QString &value) {
    // Every device has its row, with an address or without: a device gets
    // its first address here.
    const QString key = QString::number(id);
    int row = 0;
    while (row < ValueList1->rowCount() && ValueList1->item(row, kKeyColumn)->text() != key) ++row;
    const bool present = row < ValueList1->rowCount();
    if (!present) {
        ValueList1->insertRow(row);
        auto *keyItem = new QTableWidgetItem(key);
        keyItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        ValueList1->setItem(row, kKeyColumn, keyItem);
        ValueList1->setItem(row, kValueColumn, new QTableWidgetItem);
    }
    QTableWidgetItem *valueItem = ValueList1->item(row, kValueColumn);
    valueItem->setText(value);
    valueItem->setData(kAcceptedRole, value);
}

void TForm3::ValueEdited(QTableWidgetItem *item) {
    if (filling_ || item->column() != kValueColumn) return;
    const QString text = item->text().trimmed();
    const QString accepted = item->data(kAcceptedRole).toString();
    QString refusal;
    // The network link sends to a dotted IPv4 address; anything else would
    // only fail later, at the first request. The longest such text fits an
    // entry with its terminating zero.
    if (!IsAddressBookValue(text))
        refusal = QStringLiteral("\"%1\" is not an address: enter a dotted IPv4 address such as 192.168.1.10, "
                                 "\"0\" to leave the device out of the device search, or nothing.")
                      .arg(text);
    filling_ = true;
    if (!refusal.isEmpty()) {
        item->setText(accepted);
    } else {
        item->setText(text);
        item->setData(kAcceptedRole, text);
    }
    filling_ = false;
    if (!refusal.isEmpty()) AppDialogs().Error(this, QStringLiteral("NCDeviceIPAddr"), refusal);
}
