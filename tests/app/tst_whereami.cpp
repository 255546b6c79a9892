// Where am I and what went wrong: the connection line, the first start on a
// computer without a serial port, "Verify after upload" per link, failures
// that explain themselves in the message log, the popup menu's states and
// its create-folder on an empty area, and storage commands whose success
// answer the listing contradicts.
#include <QAction>
#include <QComboBox>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>

#include "app/Unit2.h"
#include "tests/app/app_fixture.h"
#include "journal/journal.h"
#include "nccmd/session.h"
#include "app/message_log.h"
#include "link/serial_link.h"
#include "app/serial_ports.h"

namespace {

// "HH:mm:ss" in the connection line.
const QRegularExpression kTime(QStringLiteral("\\d\\d:\\d\\d:\\d\\d"));

QString MenuStates(const TForm1 &form) {
    QString states;
    for (const QAction *action : {form.N1, form.N2, form.N4, form.N5, form.NC1, form.N7})
        states += action->isEnabled() ? QChar('1') : QChar('0');
    return states;
}

std::string LastJournalResult(const AppFixture &fixture) {
    std::string error;
    const auto entries = journal::ReadAll(fixture.JournalFile().toStdString(), &error);
    return entries.empty() ? std::string() : entries.back().result;
}

}  // namespace

class WhereAmITest : public QObject {
    Q_OBJECT
private slots:
    void connectionLineOnTheNetwork();
    void connectionLineOnTheSerialLink();
    void firstStartWithoutASerialPortPicksTheNetwork();
    void verifyStartsCheckedOnTheSerialLink();
    void failuresExplainThemselves_data();
    void failuresExplainThemselves();
    void menuStates_data();
    void menuStates();
    void menuIsOffDuringARun();
    void createFolderFromAnEmptyArea();
    void listingContradictsTheAnswer_data();
    void listingContradictsTheAnswer();
};

void WhereAmITest::connectionLineOnTheNetwork() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.show();
    const QString address = QStringLiteral("127.0.0.1:%1").arg(fixture.simulator->UdpPort());
    // The serial port's error is not what the user needs while the network
    // carries the frames.
    QVERIFY(form.StatusPanel0->isHidden());
    QCOMPARE(form.ConnectionLine->text(), QStringLiteral("Net · device 1 · %1 · no answer").arg(address));
    form.BitBtn7Click();
    QVERIFY2(form.ConnectionLine->text().contains(QRegularExpression(
                 QStringLiteral("^Net · device 1 · %1 · last answer \\d\\d:\\d\\d:\\d\\d$").arg(QRegularExpression::escape(address)))),
             qPrintable(form.ConnectionLine->text()));
    const QString time = kTime.match(form.ConnectionLine->text()).captured();
    fixture.simulator->Stop();
    form.BitBtn7Click();
    QCOMPARE(form.ConnectionLine->text(),
             QStringLiteral("Net · device 1 · %1 · no answer (last answer %2)").arg(address, time));
    // A device of its own starts without an answer.
    form.CB3->setEditText("2");
    QVERIFY(form.ConnectionLine->text().startsWith(QStringLiteral("Net · device 2 · ")));
    QVERIFY(form.ConnectionLine->text().endsWith(QStringLiteral(" · no answer")));
}

void WhereAmITest::connectionLineOnTheSerialLink() {
    AppFixture fixture;
    ncsim::Options options;
    options.root = fixture.StoragePath().toStdString();
    ncsim::Simulator serial(options);
    QVERIFY2(serial.StartPty(), serial.LastError().c_str());
    const QString pty = QString::fromStdString(serial.PtyPath());
    TForm1 &form = fixture.Open(0, {}, pty);
    form.show();
    QVERIFY(form.StatusPanel0->isVisible());
    QCOMPARE(form.StatusText(0), pty + QStringLiteral(" BaudRate:115200 Data:8"));
    QCOMPARE(form.ConnectionLine->text(), QStringLiteral("Com · device 1 · %1 at 115200 baud · no answer").arg(pty));
    form.BitBtn7Click();
    QVERIFY(form.ConnectionLine->text().contains(QStringLiteral(" · last answer ")));
    form.RB2->setChecked(true);
    QVERIFY(form.StatusPanel0->isHidden());
    QVERIFY(form.ConnectionLine->text().startsWith(QStringLiteral("Net · device 1 · (no address):")));
    form.close();
    serial.Stop();
}

void WhereAmITest::firstStartWithoutASerialPortPicksTheNetwork() {
    AppFixture fixture;
    QVERIFY(!QFile::exists(fixture.WorkPath("IpAddr.dat")));
    fixture.form = std::make_unique<TForm1>(fixture.Options());
    TForm1 &form = *fixture.form;
    if (dnclink::CurrentSerialConfig().open || !ExtraSerialDevices().isEmpty())
        QSKIP("this computer has a serial port: the first start keeps the serial link");
    QVERIFY(form.RB2->isChecked());
    QCOMPARE(form.Connection().Selected(), nccmd::LinkType::kUdp);
    QVERIFY(form.BitBtn9->isEnabled());
    QVERIFY(form.ConnectionLine->text().startsWith(QStringLiteral("Net · device 1 · ")));
    QVERIFY(fixture.dialogs.shown.isEmpty());
    // Chosen once: the address book keeps it for later starts.
    QCOMPARE(ReadFileBytes(fixture.WorkPath("IpAddr.dat")).at(0), uint8_t(1));
    // A later start with the serial link stored keeps it, port or not.
    fixture.form->RB1->setChecked(true);
    TForm1 &again = fixture.Reopen();
    QVERIFY(again.RB1->isChecked());
    QVERIFY(!again.StatusPanel0->isHidden());
    QCOMPARE(again.Connection().Selected(), nccmd::LinkType::kSerial);
}

void WhereAmITest::verifyStartsCheckedOnTheSerialLink() {
    AppFixture fixture;
    TForm1 &form = fixture.Open(1);
    QVERIFY(!form.CheckVerify->isChecked());  // the network link's default
    form.RB1->setChecked(true);
    QVERIFY(form.CheckVerify->isChecked());   // the serial link's
    form.CheckVerify->setChecked(false);      // the user's choice, for this link
    form.RB2->setChecked(true);
    QVERIFY(!form.CheckVerify->isChecked());
    form.CheckVerify->setChecked(true);
    form.RB1->setChecked(true);
    QVERIFY(!form.CheckVerify->isChecked());
    // Both choices survive a restart, each with its link.
    TForm1 &again = fixture.Reopen();
    QVERIFY(again.RB1->isChecked());
    QVERIFY(!again.CheckVerify->isChecked());
    again.RB2->setChecked(true);
    QVERIFY(again.CheckVerify->isChecked());
}

void WhereAmITest::failuresExplainThemselves_data() {
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("status");  // the Part's text, unchanged
    QTest::addColumn<QString>("meaning");
    QTest::newRow("no answer") << "silent" << "0xff,Overtime Error 代码5f"
                               << "no answer from device 1 at 127.0.0.1:%1 within 6 tries of 100 ms — check the "
                                  "address and cable, or raise Net wait";
    QTest::newRow("missing file") << "missing" << "0xe2,Open File Error 代码42"
                                  << "device 1 at 127.0.0.1:%1 has no file or folder of that name — read the folder "
                                     "again (F5)";
}

void WhereAmITest::failuresExplainThemselves() {
    QFETCH(QString, failure);
    QFETCH(QString, status);
    QFETCH(QString, meaning);
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    const QString explained = meaning.arg(fixture.simulator->UdpPort());
    if (failure == "silent") {
        fixture.simulator->Stop();
        form.BitBtn7Click();
    } else {
        Download(form, "\\GONE.NC");
    }
    QCOMPARE(form.StatusText(1), status);
    QCOMPARE(form.MessageLog1->Texts().last(), status + QStringLiteral(": ") + explained);
}

void WhereAmITest::menuStates_data() {
    QTest::addColumn<QString>("folder");     // "" the root
    QTest::addColumn<QString>("selection");  // "" nothing
    QTest::addColumn<QString>("states");     // N1 N2 N4 N5 NC1 N7
    QTest::newRow("root, nothing") << "" << "" << "100010";
    QTest::newRow("root, file") << "" << "O1234.NC" << "101110";
    QTest::newRow("root, folder") << "" << "PRG" << "101011";
    QTest::newRow("subfolder, nothing") << "PRG" << "" << "110010";
    QTest::newRow("subfolder, file") << "PRG" << "O0001.CNC" << "111110";
}

void WhereAmITest::menuStates() {
    QFETCH(QString, folder);
    QFETCH(QString, selection);
    QFETCH(QString, states);
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    if (!folder.isEmpty()) {
        QVERIFY(ClickItem(form, folder));
        form.ListView1DblClick();
        WaitIdle(form);
    }
    form.ListView1->clearSelection();
    if (!selection.isEmpty()) QVERIFY(ClickItem(form, selection));
    emit form.PopupMenu1->aboutToShow();
    QCOMPARE(MenuStates(form), states);
}

void WhereAmITest::menuIsOffDuringARun() {
    AppFixture fixture;
    ncsim::Options options;
    options.busyPerBlock = 1000000;  // block 1 is never taken
    fixture.RestartSimulator(options);
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "O1234.NC"));
    WriteFileBytes(fixture.WorkPath("P.NC"), std::vector<uint8_t>(600, 'G'));
    fixture.dialogs.openFileAnswer = fixture.WorkPath("P.NC");
    form.BitBtn11Click();
    QTRY_VERIFY(form.Source().path == fixture.WorkPath("P.NC"));
    emit form.PopupMenu1->aboutToShow();
    QCOMPARE(MenuStates(form), QStringLiteral("000000"));
    form.BitBtn12Click();
    QTRY_VERIFY(!form.DncRunning());
    emit form.PopupMenu1->aboutToShow();
    QCOMPARE(MenuStates(form), QStringLiteral("101110"));
}

void WhereAmITest::createFolderFromAnEmptyArea() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.show();
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "DATA"));
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(ListCaptions(form).isEmpty());
    // A right-click on the empty listing: only what applies to the folder.
    emit form.ListView1->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(form.PopupMenu1->isVisible());
    QCOMPARE(MenuStates(form), QStringLiteral("110010"));
    form.PopupMenu1->hide();
    fixture.dialogs.modal = [](QDialog *) { return int(TForm2::kResultOk); };
    RecordSentFrames();
    form.NC1->trigger();
    QCOMPARE(SentFrames().front().TextFrom(4), std::string("%CreateDir%\\DATA\\NewDir"));
    QVERIFY(QFileInfo(fixture.StoragePath("DATA/NewDir")).isDir());
    QCOMPARE(ListCaptions(form), QStringList{"NewDir"});
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));

    // A right-click beside the items takes back a selection made earlier:
    // the menu is about the folder then, not about that item.
    QVERIFY(ClickItem(form, "NewDir"));
    const QRect row = form.ListView1->visualItemRect(form.ListView1->topLevelItem(0));
    emit form.ListView1->customContextMenuRequested(QPoint(5, row.bottom() + 40));
    QVERIFY(!FirstSelectedItem(form.ListView1));
    QCOMPARE(MenuStates(form), QStringLiteral("110010"));
    form.PopupMenu1->hide();
}

void WhereAmITest::listingContradictsTheAnswer_data() {
    QTest::addColumn<QString>("command");  // N5, N7, NC1
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("error");
    QTest::newRow("deleted file still listed") << "N5" << "A.NC" << "still shows the file A.NC";
    QTest::newRow("deleted folder still listed") << "N7" << "OLD" << "still shows the folder OLD";
    QTest::newRow("created folder missing") << "NC1" << "NEWDIR" << "does not show the folder NEWDIR";
}

void WhereAmITest::listingContradictsTheAnswer() {
    QFETCH(QString, command);
    QFETCH(QString, caption);
    QFETCH(QString, error);
    AppFixture fixture;
    QVERIFY(QDir(fixture.StoragePath()).mkpath("PRG/OLD"));
    WriteFileBytes(fixture.StoragePath("PRG/A.NC"), {'G'});
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(ClickItem(form, command == "NC1" ? "OLD" : caption));
    fixture.dialogs.modal = [caption](QDialog *dialog) {
        static_cast<TForm2 *>(dialog)->Edit1->setText(caption);
        return int(TForm2::kResultOk);
    };
    // The controller answers success, but by the time the folder is listed
    // again its storage says otherwise (a controller that lies, or a late
    // answer to an earlier request taken for this one).
    const QString onDisk = fixture.StoragePath("PRG/" + caption);
    RecordSentFrames();
    SetFrameObserver([&](const SentFrame &f) {
        if (f.TextFrom(4).rfind("%DirList%%", 0) != 0) return;
        if (command == "N5") WriteFileBytes(onDisk, {'G'});
        else if (command == "N7") QDir().mkpath(onDisk);
        else QDir(onDisk).removeRecursively();
    });
    if (command == "N5") form.N5Click();
    else if (command == "N7") form.N7Click();
    else form.NC1Click();
    SetFrameObserver(nullptr);

    const QString expected = QStringLiteral("Error: device 1 answered Operation Successful, but its listing of \\PRG\\ ") + error;
    QCOMPARE(form.StatusText(1), expected);
    QVERIFY(form.MessageLog1->Texts().last().startsWith(expected));
    QCOMPARE(QString::fromStdString(LastJournalResult(fixture)), expected);
}

QTEST_MAIN(WhereAmITest)
#include "tst_whereami.moc"
