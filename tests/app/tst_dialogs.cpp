// The path dialog's results and local save, and the address book: its file
// image, first start, read errors and the dialog's edits at exact offsets.
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstring>

#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/address_book.h"
#include "tests/app/app_fixture.h"
#include "app/gbk_text.h"

namespace {

// Runs the dialog modally and acts on it once it is shown. A dialog the
// action left open ends with -1 instead of hanging the test.
int ExecWith(QDialog &dialog, const std::function<void()> &act) {
    QTimer::singleShot(0, &dialog, act);
    QTimer::singleShot(0, &dialog, [&dialog] {
        if (dialog.isVisible()) dialog.done(-1);
    });
    return dialog.exec();
}

// The rows that hold an address; every device has a row.
QStringList GridRows(const TForm3 &form) {
    QStringList rows;
    for (int r = 0; r < form.ValueList1->rowCount(); ++r)
        if (!form.ValueList1->item(r, 1)->text().isEmpty())
            rows.append(form.ValueList1->item(r, 0)->text() + "=" + form.ValueList1->item(r, 1)->text());
    return rows;
}

void EditRow(TForm3 &form, const QString &key, const QString &value) {
    for (int r = 0; r < form.ValueList1->rowCount(); ++r)
        if (form.ValueList1->item(r, 0)->text() == key) form.ValueList1->item(r, 1)->setText(value);
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void pathDialogResults();
    void localSaveWritesGbkWithCrLf();
    void localSaveCancelledWritesNothing();
    void localSaveRefusesTextOutsideGbk();
    void loadAndSaveTheFileImage();
    void firstStartAndUnreadableBook();
    void entryWithoutTerminatorReadsAt39();
    void dialogListsDevicesInIdOrder();
    void dialogEditLandsAtExactOffsets();
    void dialogClearedRowAndCancel();
    void dialogWritesALongestAddress();
};

void DialogsTest::pathDialogResults() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    TForm2 &dialog = *form.Form2;
    dialog.Edit1->setText("\\PRG\\O1.NC");
    QCOMPARE(ExecWith(dialog, [&] {
                 QCOMPARE(dialog.focusWidget(), static_cast<QWidget *>(dialog.BitBtn2));
                 dialog.Edit1->setText("\\PRG\\O2.NC");
                 QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
             }),
             1);
    QCOMPARE(dialog.Edit1->text(), QStringLiteral("\\PRG\\O2.NC"));
    QCOMPARE(ExecWith(dialog, [&] { QTest::mouseClick(dialog.BitBtn2, Qt::LeftButton); }), 2);
    QCOMPARE(ExecWith(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }), 2);
    // Enter right after opening presses Cancel, which has the focus.
    QCOMPARE(ExecWith(dialog, [&] { QTest::keyClick(dialog.focusWidget(), Qt::Key_Return); }), 2);
    QCOMPARE(ExecWith(dialog, [&] { QTest::mouseClick(dialog.SpeedButton1, Qt::LeftButton); }), 3);
}

void DialogsTest::localSaveWritesGbkWithCrLf() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.SelectedFileName = "O0001.CNC";
    form.Memo1->setPlainText(QStringLiteral("%\nO0001(主程序)\nM30\n%\n"));
    const QString target = fixture.WorkPath("SAVED.CNC");
    WriteFileBytes(target, std::vector<uint8_t>(5000, 'Z'));  // replaced, not overwritten in place
    fixture.dialogs.saveFileAnswer = target;
    QCOMPARE(ExecWith(*form.Form2, [&] { form.Form2->SpeedButton1Click(); }), 3);
    QCOMPARE(fixture.dialogs.lastInitialName, QStringLiteral("O0001.CNC"));
    const QByteArray expected = ToGbk(QStringLiteral("%\r\nO0001(主程序)\r\nM30\r\n%\r\n"));
    QCOMPARE(ReadFileBytes(target), std::vector<uint8_t>(expected.begin(), expected.end()));

    // An empty memo creates an empty file; a directory last clicked offers
    // no file name.
    form.Memo1->clear();
    form.SelectedFileName.clear();
    QCOMPARE(ExecWith(*form.Form2, [&] { form.Form2->SpeedButton1Click(); }), 3);
    QVERIFY(fixture.dialogs.lastInitialName.isEmpty());
    QVERIFY(QFile::exists(target));
    QCOMPARE(QFileInfo(target).size(), 0);
}

void DialogsTest::localSaveCancelledWritesNothing() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.Memo1->setPlainText("G00");
    const QStringList before = QDir(fixture.WorkPath()).entryList(QDir::Files);
    fixture.dialogs.saveFileAnswer.clear();
    QCOMPARE(ExecWith(*form.Form2, [&] { form.Form2->SpeedButton1Click(); }), 3);
    QCOMPARE(QDir(fixture.WorkPath()).entryList(QDir::Files), before);
    QVERIFY(fixture.dialogs.shown.isEmpty());
}

void DialogsTest::localSaveRefusesTextOutsideGbk() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.Memo1->setPlainText(QStringLiteral("G01 X1 (✓ 检查)"));
    const QString target = fixture.WorkPath("KEEP.CNC");
    WriteFileBytes(target, {'o', 'l', 'd'});
    fixture.dialogs.saveFileAnswer = target;
    QCOMPARE(ExecWith(*form.Form2, [&] { form.Form2->SpeedButton1Click(); }), 3);
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("error"));
    QVERIFY(fixture.dialogs.shown[0].text.contains(QStringLiteral("✓")));
    QCOMPARE(ReadFileBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

void DialogsTest::loadAndSaveTheFileImage() {
    AppFixture fixture;
    // A longer file keeps its bytes beyond the book; a short one fills only
    // the leading part and the rest keeps what was in memory.
    auto image = AddressBookImage(1, {{2, "10.0.0.2"}});
    image[5] = 0x5A;  // uninterpreted bytes of entry 0 travel unchanged
    image.resize(4100, 0x77);
    WriteFileBytes("IpAddr.dat", image);
    LoadAddressBook();
    QCOMPARE(AddressText(2), std::string("10.0.0.2"));
    QCOMPARE(int(StoredLinkKind()), 1);
    SetStoredLinkKind(0);
    SaveAddressBook();
    auto expected = image;
    expected[0] = 0;
    QCOMPARE(ReadFileBytes("IpAddr.dat"), expected);

    WriteFileBytes("IpAddr.dat", std::vector<uint8_t>{1, 0, 0});
    LoadAddressBook();
    QCOMPARE(int(StoredLinkKind()), 1);
    QCOMPARE(AddressText(2), std::string("10.0.0.2"));
    QVERIFY(fixture.dialogs.shown.isEmpty());
}

void DialogsTest::firstStartAndUnreadableBook() {
    AppFixture fixture;
    QVERIFY(!QFile::exists("IpAddr.dat"));
    LoadAddressBook();
    QVERIFY(fixture.dialogs.shown.isEmpty());
    SetAddressText(5, "10.0.0.5");
    SaveAddressBook();
    const auto written = ReadFileBytes("IpAddr.dat");
    QCOMPARE(written.size(), kAddressBookSize);
    QCOMPARE(std::string(reinterpret_cast<const char *>(&written[200])), std::string("10.0.0.5"));

    QVERIFY(QFile::remove("IpAddr.dat"));
    QVERIFY(QDir().mkdir("IpAddr.dat"));  // exists, but cannot be read or written
    LoadAddressBook();
    SaveAddressBook();
    QCOMPARE(fixture.dialogs.shown.size(), 2);
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("confirm"));
    QCOMPARE(fixture.dialogs.shown[0].title, QStringLiteral("File Error"));
    QCOMPARE(fixture.dialogs.shown[0].text,
             QStringLiteral("Can't perform one of the following file operations: Open, Seek, Read, Close."));
    QCOMPARE(fixture.dialogs.shown[1].text, QStringLiteral("Open File Error"));
    QCOMPARE(AddressText(5), std::string("10.0.0.5"));
}

void DialogsTest::entryWithoutTerminatorReadsAt39() {
    AppFixture fixture;
    auto image = AddressBookImage(0, {{9, std::string(40, '1')}, {10, "10.0.0.10"}});
    WriteFileBytes("IpAddr.dat", image);
    LoadAddressBook();
    QCOMPARE(AddressText(9), std::string(39, '1'));
    QCOMPARE(AddressText(10), std::string("10.0.0.10"));
    QVERIFY(!SetAddressText(9, std::string(40, '2')));
    QVERIFY(SetAddressText(9, std::string(39, '3')));
    QCOMPARE(int(AddressBook[10 * 40]), int('1'));  // the next entry is untouched
    QCOMPARE(AddressText(0), std::string());
    QCOMPARE(AddressText(101), std::string());
}

void DialogsTest::dialogListsDevicesInIdOrder() {
    AppFixture fixture;
    WriteFileBytes("IpAddr.dat", AddressBookImage(0, {{7, "192.168.1.17"}, {3, "192.168.1.13"}}));
    TForm3 dialog;
    QCOMPARE(GridRows(dialog), (QStringList{"3=192.168.1.13", "7=192.168.1.17"}));
    QCOMPARE(dialog.ValueList1->rowCount(), 100);
    for (int r = 0; r < 100; ++r) QCOMPARE(dialog.ValueList1->item(r, 0)->text(), QString::number(r + 1));
    QVERIFY(dialog.BitBtn3->isHidden());
    QVERIFY(dialog.BitBtn4->isHidden());
    QVERIFY(!(dialog.ValueList1->item(0, 0)->flags() & Qt::ItemIsEditable));
}

void DialogsTest::dialogEditLandsAtExactOffsets() {
    AppFixture fixture;
    const auto image = AddressBookImage(1, {{3, "192.168.1.13"}, {7, "192.168.1.17"}});
    WriteFileBytes("IpAddr.dat", image);
    TForm3 dialog;
    const int result = ExecWith(dialog, [&] {
        EditRow(dialog, "7", "10.0.0.7");
        QTest::mouseClick(dialog.BitBtn1, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    auto expected = image;
    std::memcpy(&expected[280], "10.0.0.7", 8);
    expected[288] = 0;  // bytes 289.. keep the tail of the longer text
    const auto written = ReadFileBytes("IpAddr.dat");
    QCOMPARE(written, expected);
    QCOMPARE(std::string(reinterpret_cast<const char *>(&written[289])), std::string(".17"));
}

void DialogsTest::dialogClearedRowAndCancel() {
    AppFixture fixture;
    const auto image = AddressBookImage(0, {{3, "192.168.1.13"}, {7, "192.168.1.17"}});
    WriteFileBytes("IpAddr.dat", image);
    TForm3 dialog;
    // Cancel after an edit: file unchanged, grid back to the file.
    ExecWith(dialog, [&] {
        EditRow(dialog, "3", "1.1.1.1");
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    QCOMPARE(ReadFileBytes("IpAddr.dat"), image);
    QCOMPARE(GridRows(dialog), (QStringList{"3=192.168.1.13", "7=192.168.1.17"}));
    QCOMPARE(AddressText(3), std::string("192.168.1.13"));

    ExecWith(dialog, [&] {
        EditRow(dialog, "3", "");
        dialog.BitBtn1Click();
    });
    auto expected = image;
    expected[120] = 0;
    QCOMPARE(ReadFileBytes("IpAddr.dat"), expected);
    QCOMPARE(GridRows(dialog), (QStringList{"7=192.168.1.17"}));
    dialog.BitBtn3Click();  // the next fill keeps the empty row
    QCOMPARE(GridRows(dialog), (QStringList{"7=192.168.1.17"}));
    QCOMPARE(dialog.ValueList1->rowCount(), 100);
}

// Longer texts are refused as addresses (the address table of the
// everyday suite); the longest address still ends inside its entry.
void DialogsTest::dialogWritesALongestAddress() {
    AppFixture fixture;
    auto image = AddressBookImage(0, {{4, "10.0.0.4"}, {5, "10.0.0.5"}});
    WriteFileBytes("IpAddr.dat", image);
    TForm3 dialog;
    EditRow(dialog, "4", QStringLiteral("255.255.255.255"));
    QVERIFY(fixture.dialogs.shown.isEmpty());
    dialog.BitBtn4Click();
    std::memcpy(&image[160], "255.255.255.255", 16);
    QCOMPARE(ReadFileBytes("IpAddr.dat"), image);
    QCOMPARE(AddressText(5), std::string("10.0.0.5"));
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
