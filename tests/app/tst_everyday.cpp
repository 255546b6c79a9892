// First use and everyday use of the window: the address book from an empty
// start, link messages kept out of the program text, incomplete downloads
// and unsaved edits, remembered settings, dropped files, verify after
// upload, the transfer journal, the listing's keys and the smallest window.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/address_book.h"
#include "tests/app/app_fixture.h"
#include "app/escape_key.h"
#include "app/gbk_text.h"
#include "journal/journal.h"
#include "app/journal_view.h"
#include "link/link_internal.h"
#include "app/message_log.h"
#include "journal/sha256.h"
#include "link/udp_link.h"

namespace {

std::vector<uint8_t> Bytes(const QByteArray &a) { return std::vector<uint8_t>(a.begin(), a.end()); }

QByteArray FileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Pattern(int size, int seed = 0) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) bytes[i] = char('A' + (i + seed) % 23);
    return bytes;
}

std::string Sha(const QByteArray &bytes) { return journal::Sha256Hex(bytes.constData(), size_t(bytes.size())); }

std::vector<journal::Entry> JournalEntries(const AppFixture &fixture) {
    std::string error;
    return journal::ReadAll(fixture.JournalFile().toStdString(), &error);
}

// The path dialog: OK with the proposed path, which is recorded.
std::function<int(QDialog *)> AcceptPath(QStringList *proposed) {
    return [proposed](QDialog *dialog) {
        auto *form2 = qobject_cast<TForm2 *>(dialog);
        if (!form2) return 2;
        proposed->append(form2->Edit1->text() + (form2->SpeedButton1->isHidden() ? "|hidden" : "|shown"));
        return int(TForm2::kResultOk);
    };
}

int GridRow(const TForm3 &dialog, int id) {
    for (int r = 0; r < dialog.ValueList1->rowCount(); ++r)
        if (dialog.ValueList1->item(r, 0)->text() == QString::number(id)) return r;
    return -1;
}

void EnterPrg(TForm1 &form) {
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    QCOMPARE(form.CurrentNcPath, QStringLiteral("\\PRG\\"));
}

bool ListingRequestSent() {
    for (const SentFrame &f : SentFrames())
        if (f.TextFrom(4).rfind("%DirList%%", 0) == 0) return true;
    return false;
}

TForm1 *current = nullptr;
std::function<void()> beforeBlock;

}  // namespace

class EverydayTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void firstUseGivesDevice1AnAddressAndLists();
    void addressValues_data();
    void addressValues();
    void sendFailuresGoToTheLogNotTheMemo();
    void unfinishedDownloadIsMarkedAndSavesAsk_data();
    void unfinishedDownloadIsMarkedAndSavesAsk();
    void unsavedEditsAskFirst_data();
    void unsavedEditsAskFirst();
    void settingsSurviveARestart();
    void droppedFilesAreUploadedOneAfterTheOther();
    void verifyCatchesDamageTheChecksumMisses();
    void journalLinePerOperation();
    void journalLocationIsQtsDataFolder();
    void listingKeys();
    void smallestWindowCutsNoControl();
};

void EverydayTest::init() {
    SetEscapeHeldOverride(nullptr);
    beforeBlock = nullptr;
    current = nullptr;
}

void EverydayTest::firstUseGivesDevice1AnAddressAndLists() {
    AppFixture fixture;
    QVERIFY(!QFile::exists(fixture.WorkPath("IpAddr.dat")));
    fixture.form = std::make_unique<TForm1>(fixture.Options());
    TForm1 &form = *fixture.form;
    QVERIFY(fixture.dialogs.shown.isEmpty());  // a first start is no error
    form.RB2->setChecked(true);
    QVERIFY(form.BitBtn9->isEnabled());
    QStringList keys;
    fixture.dialogs.modal = [&](QDialog *dialog) {
        auto *book = qobject_cast<TForm3 *>(dialog);
        if (!book) return 2;
        for (int r = 0; r < book->ValueList1->rowCount(); ++r) keys.append(book->ValueList1->item(r, 0)->text());
        book->ValueList1->item(GridRow(*book, 1), 1)->setText("127.0.0.1");
        book->BitBtn1Click();
        return book->result();
    };
    form.BitBtn9Click();
    QStringList expected;
    for (int id = 1; id <= 100; ++id) expected.append(QString::number(id));
    QCOMPARE(keys, expected);
    QCOMPARE(form.CB4->currentText(), QStringLiteral("127.0.0.1"));
    form.BitBtn7Click();
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(ListCaptions(form), kSampleRoot);
    // The file keeps its layout: 4040 bytes, the link kind, then entry 1.
    const auto book = ReadFileBytes(fixture.WorkPath("IpAddr.dat"));
    QCOMPARE(book, AddressBookImage(1, {{1, "127.0.0.1"}}));
    QVERIFY(fixture.dialogs.shown.isEmpty());
}

void EverydayTest::addressValues_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");  // empty with accepted false: refused
    QTest::addColumn<bool>("accepted");
    QTest::newRow("dotted") << "192.168.1.10" << "192.168.1.10" << true;
    QTest::newRow("blanks around") << " 10.0.0.1 " << "10.0.0.1" << true;
    QTest::newRow("no search") << "0" << "0" << true;
    QTest::newRow("cleared") << "" << "" << true;
    QTest::newRow("octet too big") << "256.1.1.1" << "" << false;
    QTest::newRow("three parts") << "10.0.0" << "" << false;
    QTest::newRow("five parts") << "1.2.3.4.5" << "" << false;
    QTest::newRow("host name") << "cnc.local" << "" << false;
    QTest::newRow("trailing letter") << "10.0.0.1a" << "" << false;
    QTest::newRow("full-width digits") << QStringLiteral("１.２.３.４") << "" << false;
    QTest::newRow("forty characters") << QString(40, QChar('9')) << "" << false;
}

void EverydayTest::addressValues() {
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QFETCH(bool, accepted);
    AppFixture fixture;
    const auto image = AddressBookImage(0, {{4, "10.0.0.4"}});
    WriteFileBytes("IpAddr.dat", image);
    TForm3 dialog;
    dialog.ValueList1->item(GridRow(dialog, 4), 1)->setText(typed);
    QCOMPARE(fixture.dialogs.shown.size(), accepted ? 0 : 1);
    QCOMPARE(dialog.GridValue(4), accepted ? stored : QStringLiteral("10.0.0.4"));
    dialog.BitBtn1Click();
    auto expected = image;
    const std::string kept = accepted ? stored.toStdString() : "10.0.0.4";
    std::memcpy(&expected[160], kept.data(), kept.size());
    expected[160 + kept.size()] = 0;  // the bytes after the zero keep the older text
    QCOMPARE(ReadFileBytes("IpAddr.dat"), expected);
    if (!accepted) QVERIFY(fixture.dialogs.shown[0].text.contains(QStringLiteral("not an address")));
}

void EverydayTest::sendFailuresGoToTheLogNotTheMemo() {
    AppFixture fixture;
    const QByteArray program = "%\r\nO0777\r\n" + Pattern(1200) + "\r\nM30\r\n%\r\n";
    WriteFileBytes(fixture.StoragePath("O0777.NC"), Bytes(program));
    TForm1 &form = fixture.Open();
    const QString failure = QStringLiteral("网络数据发送错误:-1");

    // Failures reported while the program arrives never enter its text.
    current = &form;
    SetEscapeHeldOverride([] {
        dnclink::detail::ReportEvent({dnclink::LinkEventCode::kSendFailed, -1, ENETUNREACH});
        return false;
    });
    QCOMPARE(Download(form, "\\O0777.NC"), uint8_t(0));
    SetEscapeHeldOverride(nullptr);
    QCoreApplication::processEvents();
    QCOMPARE(MemoTextToGbk(form.Memo1->toPlainText()), program);
    QCOMPARE(form.MessageLog1->Texts(), QStringList(3, failure));  // one per block of three

    // A network that refuses the datagrams (a broadcast address without
    // permission to broadcast): the lines go to the log, stamped.
    dnclink::UdpSetDestination("255.255.255.255");
    form.BitBtn7Click();
    QVERIFY(form.StatusText(1) != QStringLiteral("Operation Successful"));
    QCoreApplication::processEvents();
    QVERIFY(form.MessageLog1->Texts().size() > 3);
    // Besides the link's lines, the failed listing's result with what it
    // means.
    const QString result = form.StatusText(1) + QStringLiteral(": no answer from device 1");
    for (const QString &line : form.MessageLog1->Texts())
        QVERIFY2(line == failure || line.startsWith(result), qPrintable(line));
    QCOMPARE(form.MessageLog1->Texts().filter(result).size(), 1);
    QVERIFY(form.MessageLog1->toPlainText().section('\n', -1).contains(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  ")));
    QCOMPARE(MemoTextToGbk(form.Memo1->toPlainText()), program);

    // Saved back, the controller gets the program and nothing else.
    dnclink::UdpSetDestination("127.0.0.1");
    form.SelectedFileName = "O0778.NC";
    QStringList proposed;
    fixture.dialogs.modal = AcceptPath(&proposed);
    form.BitBtn10Click();
    WaitIdle(form);
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(FileBytes(fixture.StoragePath("O0778.NC")), program);
}

void EverydayTest::unfinishedDownloadIsMarkedAndSavesAsk_data() {
    QTest::addColumn<bool>("controllerGoesAway");
    QTest::newRow("aborted with Esc") << false;
    QTest::newRow("controller stops answering") << true;
}

void EverydayTest::unfinishedDownloadIsMarkedAndSavesAsk() {
    QFETCH(bool, controllerGoesAway);
    AppFixture fixture;
    const QByteArray program = Pattern(1500);
    WriteFileBytes(fixture.StoragePath("LONG.NC"), Bytes(program));
    TForm1 &form = fixture.Open();
    static int blocks;
    static AppFixture *active;
    blocks = 0;
    active = &fixture;
    if (controllerGoesAway) {
        SetEscapeHeldOverride([] {
            if (++blocks == 2) active->simulator->Stop();
            return false;
        });
    } else {
        SetEscapeHeldOverride([] { return ++blocks == 2; });
    }
    Download(form, "\\LONG.NC");
    SetEscapeHeldOverride(nullptr);
    QVERIFY(form.StatusText(1) != QStringLiteral("Operation Successful"));
    QCOMPARE(MemoTextToGbk(form.Memo1->toPlainText()), program.left(512));
    QVERIFY(form.MemoIncomplete());
    QVERIFY(!form.MemoState->isHidden());
    QVERIFY(form.MemoState->text().contains(QStringLiteral("\\LONG.NC")));
    if (controllerGoesAway) fixture.RestartSimulator({});
    dnclink::UdpSetDestinationPort(fixture.simulator->UdpPort());

    // Save-as asks; No sends nothing, Yes sends the part that is there.
    form.SelectedFileName = "LONG.NC";
    QStringList proposed;
    fixture.dialogs.modal = AcceptPath(&proposed);
    fixture.dialogs.confirmAnswer = false;
    RecordSentFrames();
    form.BitBtn10Click();
    WaitIdle(form);
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].title, QStringLiteral("Incomplete program"));
    QCOMPARE(FileBytes(fixture.StoragePath("LONG.NC")), program);

    // The local save asks the same.
    const QString local = fixture.WorkPath("PART.NC");
    fixture.dialogs.saveFileAnswer = local;
    QVERIFY(!form.SaveMemoLocally(&form));
    QVERIFY(!QFile::exists(local));
    fixture.dialogs.confirmAnswer = true;
    QVERIFY(form.SaveMemoLocally(&form));
    QCOMPARE(FileBytes(local), program.left(512));
    QCOMPARE(fixture.dialogs.shown.size(), 3);

    // A whole download clears the mark; then nothing is asked.
    QCOMPARE(Download(form, "\\LONG.NC"), uint8_t(0));
    QVERIFY(!form.MemoIncomplete());
    QVERIFY(form.MemoState->isHidden());
    QVERIFY(form.SaveMemoLocally(&form));
    QCOMPARE(FileBytes(local), program);
    QCOMPARE(fixture.dialogs.shown.size(), 3);
}

void EverydayTest::unsavedEditsAskFirst_data() {
    QTest::addColumn<int>("answer");
    QTest::newRow("cancel") << int(UnsavedAnswer::Cancel);
    QTest::newRow("discard") << int(UnsavedAnswer::Discard);
    QTest::newRow("save locally") << int(UnsavedAnswer::Save);
}

void EverydayTest::unsavedEditsAskFirst() {
    QFETCH(int, answer);
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.show();
    form.BitBtn7Click();
    QCOMPARE(Download(form, "\\O1234.NC"), uint8_t(0));
    const QString original = form.Memo1->toPlainText();
    // Nothing typed yet: another download asks nothing but its own question.
    QVERIFY(ClickItem(form, "O1234.NC"));
    form.ListView1DblClick();
    WaitIdle(form);
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("confirm"));

    QTest::keyClicks(form.Memo1, "G91 ");
    const QString edited = form.Memo1->toPlainText();
    QVERIFY(edited != original);
    fixture.dialogs.unsavedAnswer = UnsavedAnswer(answer);
    const QString local = fixture.WorkPath("EDITED.NC");
    fixture.dialogs.saveFileAnswer = local;
    RecordSentFrames();
    form.ListView1DblClick();
    WaitIdle(form);
    QCOMPARE(fixture.dialogs.shown.last().kind, QStringLiteral("unsaved"));
    const bool goesOn = UnsavedAnswer(answer) != UnsavedAnswer::Cancel;
    QCOMPARE(SentFrames().empty(), !goesOn);
    QCOMPARE(form.Memo1->toPlainText(), goesOn ? original : edited);
    QCOMPARE(QFile::exists(local), UnsavedAnswer(answer) == UnsavedAnswer::Save);
    if (UnsavedAnswer(answer) == UnsavedAnswer::Save) QCOMPARE(FileBytes(local), MemoTextToGbk(edited));

    // Closing the window asks the same.
    QFile::remove(local);
    QTest::keyClicks(form.Memo1, "G90 ");
    const QString again = form.Memo1->toPlainText();
    const qsizetype asked = fixture.dialogs.shown.size();
    form.close();
    QCOMPARE(fixture.dialogs.shown.size(), asked + 1);
    QCOMPARE(fixture.dialogs.shown.last().kind, QStringLiteral("unsaved"));
    QCOMPARE(form.isVisible(), !goesOn);
    if (UnsavedAnswer(answer) == UnsavedAnswer::Save) QCOMPARE(FileBytes(local), MemoTextToGbk(again));
}

void EverydayTest::settingsSurviveARestart() {
    AppFixture fixture;
    TForm1 *form = &fixture.Open();
    // The first start has the window's own defaults.
    QCOMPARE(form->CB1->currentText(), QStringLiteral("COM3"));
    QCOMPARE(form->CB2->currentText(), QStringLiteral("115200"));
    QCOMPARE(form->CB3->currentText(), QStringLiteral("1"));
    QCOMPARE(form->NetWait->value(), dnclink::kUdpReceiveTimeoutMs);
    QVERIFY(!form->CheckVerify->isChecked());
    QVERIFY(form->LocalFolder().isEmpty());

    form->show();
    form->CB1->setCurrentIndex(form->CB1->findText("COM5"));
    form->CB2->setCurrentIndex(form->CB2->findText("9600"));
    form->CB3->setEditText("7");
    form->NetWait->setValue(350);
    form->CheckVerify->setChecked(true);
    QDir().mkdir(fixture.WorkPath("programs"));
    form->RememberLocalFile(fixture.WorkPath("programs/O1.NC"));
    form->resize(1000, 640);
    form->close();

    dnclink::UdpSetReceiveTimeout(dnclink::kUdpReceiveTimeoutMs);
    form = &fixture.Reopen();
    QCOMPARE(form->CB1->currentText(), QStringLiteral("COM5"));
    QCOMPARE(form->CB2->currentText(), QStringLiteral("9600"));
    QCOMPARE(form->CB3->currentText(), QStringLiteral("7"));
    QCOMPARE(form->DeviceId, uint8_t(7));
    QCOMPARE(form->NetWait->value(), 350);
    QCOMPARE(dnclink::UdpReceiveTimeout(), 350);
    QVERIFY(form->CheckVerify->isChecked());
    QCOMPARE(form->LocalFolder(), fixture.WorkPath("programs"));
    QCOMPARE(form->size(), QSize(1000, 640));
    // The link kind stays in the address book, not in the settings.
    QVERIFY(!form->Settings().allKeys().join(' ').contains(QStringLiteral("link"), Qt::CaseInsensitive));
    dnclink::UdpSetReceiveTimeout(dnclink::kUdpReceiveTimeoutMs);
}

void EverydayTest::droppedFilesAreUploadedOneAfterTheOther() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    EnterPrg(form);
    const QByteArray a = Pattern(700, 1), b = Pattern(1030, 2);
    WriteFileBytes(fixture.WorkPath("A1.NC"), Bytes(a));
    WriteFileBytes(fixture.WorkPath("B2.NC"), Bytes(b));
    QStringList proposed;
    fixture.dialogs.modal = AcceptPath(&proposed);

    // A folder is not a file to upload: the drag is not taken.
    QMimeData folder;
    folder.setUrls({QUrl::fromLocalFile(fixture.WorkPath())});
    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &folder, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ListView1->viewport(), &refused);
    QVERIFY(!refused.isAccepted());

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(fixture.WorkPath("A1.NC")), QUrl::fromLocalFile(fixture.WorkPath("B2.NC"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ListView1->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ListView1->viewport(), &drop);
    QVERIFY(drop.isAccepted());
    // The second file's dialog opens once the first upload has ended.
    QTRY_COMPARE(proposed.size(), 2);
    WaitIdle(form);
    QCOMPARE(proposed, (QStringList{"\\PRG\\A1.NC|hidden", "\\PRG\\B2.NC|hidden"}));
    QCOMPARE(FileBytes(fixture.StoragePath("PRG/A1.NC")), a);
    QCOMPARE(FileBytes(fixture.StoragePath("PRG/B2.NC")), b);
    QVERIFY(ListCaptions(form).contains("B2.NC"));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
}

void EverydayTest::verifyCatchesDamageTheChecksumMisses() {
    AppFixture fixture;
    ncsim::Options options;
    options.corruptProbability = 0.1;
    options.seed = 11;
    fixture.RestartSimulator(options);
    TForm1 &form = fixture.Open();
    const QByteArray bytes = Pattern(64 * 1024, 5);
    const QString local = fixture.WorkPath("C.BIN");
    WriteFileBytes(local, Bytes(bytes));
    QStringList proposed;
    fixture.dialogs.modal = AcceptPath(&proposed);
    fixture.dialogs.openFileAnswer = local;

    // Without verify the damage passes for a success.
    form.BitBtn4Click();
    WaitIdle(form);
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QVERIFY(FileBytes(fixture.StoragePath("C.BIN")) != bytes);

    form.CheckVerify->setChecked(true);
    form.BitBtn4Click();
    WaitIdle(form);
    QVERIFY(FileBytes(fixture.StoragePath("C.BIN")) != bytes);
    QVERIFY2(form.StatusText(1).startsWith(QStringLiteral("Verify failed")), qPrintable(form.StatusText(1)));
    const auto entries = JournalEntries(fixture);
    QCOMPARE(entries.back().result, form.StatusText(1).toStdString());

    // A clean controller: verified, a success.
    fixture.RestartSimulator({});
    dnclink::UdpSetDestinationPort(fixture.simulator->UdpPort());
    form.BitBtn4Click();
    WaitIdle(form);
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(FileBytes(fixture.StoragePath("C.BIN")), bytes);
    QVERIFY(form.MessageLog1->Texts().last().startsWith(QStringLiteral("Verified \\C.BIN")));
}

void EverydayTest::journalLinePerOperation() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    const std::string address = "127.0.0.1:" + std::to_string(fixture.simulator->UdpPort());
    const QByteArray sample = FileBytes(fixture.StoragePath("O1234.NC"));
    const QByteArray upload = Pattern(900, 3);
    const QString local = fixture.WorkPath("UP.NC");
    WriteFileBytes(local, Bytes(upload));
    QStringList proposed;
    fixture.dialogs.modal = AcceptPath(&proposed);
    fixture.dialogs.openFileAnswer = local;

    struct Expected {
        std::string operation, remote, local, bytes, sha;
    };
    std::vector<Expected> expected;
    form.BitBtn7Click();
    QCOMPARE(Download(form, "\\O1234.NC"), uint8_t(0));
    expected.push_back({journal::kGet, "\\O1234.NC", "", std::to_string(sample.size()), Sha(sample)});
    form.BitBtn4Click();
    WaitIdle(form);
    expected.push_back({journal::kPut, "\\UP.NC", local.toStdString(), "900", Sha(upload)});
    form.SelectedFileName = "COPY.NC";
    form.BitBtn10Click();
    WaitIdle(form);
    const QByteArray saved = MemoTextToGbk(form.Memo1->toPlainText());
    expected.push_back({journal::kSaveAs, "\\COPY.NC", "", std::to_string(saved.size()), Sha(saved)});
    QVERIFY(ClickItem(form, "UP.NC"));
    form.NC1Click();  // the proposed name NewDir
    expected.push_back({journal::kMakeDir, "\\NewDir", "", "", ""});
    QVERIFY(ClickItem(form, "UP.NC"));
    form.N5Click();
    expected.push_back({journal::kRemove, "\\UP.NC", "", "", ""});
    QVERIFY(ClickItem(form, "NewDir"));
    form.N7Click();
    expected.push_back({journal::kRemoveDir, "\\NewDir", "", "", ""});
    form.BitBtn11Click();  // DNC run of the uploaded file
    QTRY_VERIFY(!form.DncRunning());
    expected.push_back({journal::kDnc, "", local.toStdString(), "900", Sha(upload)});

    const auto entries = JournalEntries(fixture);
    QCOMPARE(entries.size(), expected.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const journal::Entry &e = entries[i];
        QCOMPARE(e.program, std::string("dncpanel"));
        QCOMPARE(e.operation, expected[i].operation);
        QCOMPARE(e.deviceId, std::string("1"));
        QCOMPARE(e.link, std::string("udp"));
        QCOMPARE(e.address, address);
        QCOMPARE(e.remotePath, expected[i].remote);
        QCOMPARE(e.localFile, expected[i].local);
        QCOMPARE(e.bytes, expected[i].bytes);
        QCOMPARE(e.sha256, expected[i].sha);
        QCOMPARE(e.result, std::string("Operation Successful"));
    }
    // The table shows the newest first.
    QCOMPARE(form.JournalView1->rowCount(), int(expected.size()));
    QCOMPARE(form.JournalView1->item(0, 2)->text(), QStringLiteral("dnc"));
    QCOMPARE(form.JournalView1->item(int(expected.size()) - 1, 2)->text(), QStringLiteral("get"));
    QVERIFY(!(form.JournalView1->item(0, 0)->flags() & Qt::ItemIsEditable));

    // A failed command is journalled with its text.
    QVERIFY(ClickItem(form, "O1234.NC"));
    QFile::remove(fixture.StoragePath("O1234.NC"));
    form.N5Click();
    QVERIFY(JournalEntries(fixture).back().result.find("Open File Error") != std::string::npos);
}

void EverydayTest::journalLocationIsQtsDataFolder() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    QCOMPARE(form.JournalFile(), fixture.JournalFile());
    // Without the variable: the data folder Qt names, the same one dncctl
    // uses.
    const QByteArray saved = qgetenv(journal::kPathVariable);
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qunsetenv(journal::kPathVariable);
    qputenv("XDG_DATA_HOME", fixture.WorkPath("data").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(false);
    const QString qtFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QStandardPaths::setTestModeEnabled(true);
    QCOMPARE(form.JournalFile(), qtFolder + QStringLiteral("/dncpanel/journal.tsv"));
    QCOMPARE(form.JournalFile(), fixture.WorkPath("data/dncpanel/journal.tsv"));
    qputenv(journal::kPathVariable, saved);
    qputenv("XDG_DATA_HOME", savedData);
}

void EverydayTest::listingKeys() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    QTest::keyClick(form.ListView1, Qt::Key_Return);
    WaitIdle(form);
    QCOMPARE(form.windowTitle(), QStringLiteral("\\PRG\\"));
    QVERIFY(ListCaptions(form).contains("O0001.CNC"));

    // Enter on a file reads it after the same question as a double-click.
    QVERIFY(ClickItem(form, "O0001.CNC"));
    QTest::keyClick(form.ListView1, Qt::Key_Enter);
    WaitIdle(form);
    QCOMPARE(fixture.dialogs.shown.last().title, QStringLiteral("读远程文件？"));
    QCOMPARE(MemoTextToGbk(form.Memo1->toPlainText()), FileBytes(fixture.StoragePath("PRG/O0001.CNC")));
    QCOMPARE(form.SelectedFileName, QStringLiteral("O0001.CNC"));

    // F5 reads the folder again: a file removed meanwhile is gone.
    QFile::remove(fixture.StoragePath("PRG/O0001.CNC"));
    RecordSentFrames();
    QTest::keyClick(form.ListView1, Qt::Key_F5);
    QVERIFY(ListingRequestSent());
    QVERIFY(!ListCaptions(form).contains("O0001.CNC"));

    QTest::keyClick(form.ListView1, Qt::Key_Backspace);
    // The title starts with the folder; the program read follows it.
    QCOMPARE(form.windowTitle(), QStringLiteral("\\  —  Device 1: \\PRG\\O0001.CNC[*]"));
    QCOMPARE(ListCaptions(form), kSampleRoot);

    // Delete: the menu's question, then its refusal of a system folder.
    const qsizetype before = fixture.dialogs.shown.size();
    QVERIFY(ClickItem(form, "PRG"));
    RecordSentFrames();
    QTest::keyClick(form.ListView1, Qt::Key_Delete);
    QCOMPARE(fixture.dialogs.shown.size(), before + 2);
    QCOMPARE(fixture.dialogs.shown[before].text, QStringLiteral("Delete NC Dir?\n\\PRG"));
    QCOMPARE(fixture.dialogs.shown[before + 1].text, QStringLiteral("NC SYSTEM DIR Cannot Delete!!!"));
    QVERIFY(SentFrames().empty());
    // And a plain file goes.
    QVERIFY(ClickItem(form, "O1234.NC"));
    QTest::keyClick(form.ListView1, Qt::Key_Delete);
    QCOMPARE(fixture.dialogs.shown.last().text, QStringLiteral("确定删除该远程文件吗\n\\O1234.NC"));
    QVERIFY(!QFile::exists(fixture.StoragePath("O1234.NC")));
    QVERIFY(!ListCaptions(form).contains("O1234.NC"));
}

void EverydayTest::smallestWindowCutsNoControl() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QSize panelPc(1024, 600);
    QVERIFY2(form.minimumSizeHint().width() <= panelPc.width() && form.minimumSizeHint().height() <= panelPc.height(),
             qPrintable(QStringLiteral("%1x%2").arg(form.minimumSizeHint().width()).arg(form.minimumSizeHint().height())));
    for (const QSize size : {panelPc, QSize(300, 200)}) {
        form.resize(size);
        QCoreApplication::processEvents();
        QVERIFY(form.width() >= form.minimumSize().width() && form.height() >= form.minimumSize().height());
        const QList<QWidget *> controls = form.findChildren<QWidget *>();
        for (QWidget *w : controls) {
            const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w) ||
                                 qobject_cast<QLineEdit *>(w) || qobject_cast<QSpinBox *>(w);
            // The edit inside a combo or spin box is checked with its box.
            QWidget *parent = w->parentWidget();
            if (!control || !w->isVisible() || w->window() != &form || qobject_cast<QComboBox *>(parent) ||
                qobject_cast<QAbstractSpinBox *>(parent))
                continue;
            const QSize need = w->minimumSizeHint().expandedTo(w->minimumSize());
            QVERIFY2(w->width() >= need.width() && w->height() >= need.height(),
                     qPrintable(w->objectName() + QStringLiteral(" (%1 in %2) is cut: %3x%4").arg(w->metaObject()->className(), w->parentWidget()->metaObject()->className()).arg(w->width()).arg(w->height())));
            const QRect inWindow(w->mapTo(&form, QPoint(0, 0)), w->size());
            QVERIFY2(form.rect().contains(inWindow), qPrintable(w->objectName() + QStringLiteral(" is outside")));
        }
    }
}

QTEST_MAIN(EverydayTest)
#include "tst_everyday.moc"
