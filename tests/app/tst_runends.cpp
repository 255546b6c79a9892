// A run's end is honest: a stopped, aborted or failed transfer or DNC run
// leaves the bar at the fraction that really moved, and the third panel, the
// message log and the journal say where it stopped. Closing the window
// during a DNC run asks first.
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <QTreeWidget>

#include "app/Unit2.h"
#include "tests/app/app_fixture.h"
#include "app/dnc_worker.h"
#include "app/escape_key.h"
#include "journal/journal.h"
#include "app/message_log.h"

namespace {

std::vector<uint8_t> Bytes(const QByteArray &a) { return std::vector<uint8_t>(a.begin(), a.end()); }

// NC lines of 12 characters: byte B starts line B / 12 + 1.
QByteArray Program(int size) {
    QByteArray bytes;
    for (int line = 0; bytes.size() < size; ++line) bytes += QByteArray("N") + QByteArray::number(10000 + line) + " G1 X\n";
    bytes.truncate(size);
    return bytes;
}

journal::Entry LastJournalEntry(const AppFixture &fixture) {
    std::string error;
    const auto entries = journal::ReadAll(fixture.JournalFile().toStdString(), &error);
    return entries.empty() ? journal::Entry{} : entries.back();
}

// Esc is held from the n-th block test on.
void HoldEscapeFromBlock(int n) {
    static int count;
    static int from;
    count = 0;
    from = n;
    SetEscapeHeldOverride([] { return ++count >= from; });
}

}  // namespace

class RunEndsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void downloadEndsWhereItStopped_data();
    void downloadEndsWhereItStopped();
    void refusedDownloadLeavesNoFullBar();
    void abortedUploadLeavesTheBarWhereItWas();
    void dncRunWhoseControllerGoesAway();
    void closeDuringARunAnsweredNo();
};

void RunEndsTest::cleanup() {
    SetEscapeHeldOverride(nullptr);
    SetFrameObserver(nullptr);
}

void RunEndsTest::downloadEndsWhereItStopped_data() {
    QTest::addColumn<bool>("controllerGoesAway");  // else Esc
    QTest::addColumn<QString>("note");
    QTest::newRow("Esc") << false << "Download stopped at block 2 of 3: 512 of 1500 bytes arrived";
    QTest::newRow("controller lost") << true << "Download failed at block 2 of 3: 512 of 1500 bytes arrived";
}

void RunEndsTest::downloadEndsWhereItStopped() {
    QFETCH(bool, controllerGoesAway);
    QFETCH(QString, note);
    AppFixture fixture;
    WriteFileBytes(fixture.StoragePath("LONG.NC"), Bytes(Program(1500)));
    TForm1 &form = fixture.Open();
    static AppFixture *active;
    static int blocks;
    active = &fixture;
    blocks = 0;
    if (controllerGoesAway) {
        SetEscapeHeldOverride([] {
            if (++blocks == 2) active->simulator->Stop();
            return false;
        });
    } else {
        HoldEscapeFromBlock(2);
    }
    Download(form, "\\LONG.NC");
    SetEscapeHeldOverride(nullptr);
    QCOMPARE(form.ProgressBar1->maximum(), 1500);
    QCOMPARE(form.ProgressBar1->value(), 512);
    QCOMPARE(form.StatusPanel2->text(), note);
    QVERIFY(form.MessageLog1->Texts().contains(QStringLiteral("\\LONG.NC from device 1: ") + note));
    const journal::Entry entry = LastJournalEntry(fixture);
    QCOMPARE(entry.operation, std::string(journal::kGet));
    QCOMPARE(QString::fromStdString(entry.result), form.StatusText(1) + QStringLiteral("; ") + note);
    // The note stays until the next transfer, which starts its own panel.
    form.BitBtn7Click();
    if (!controllerGoesAway) {
        QCOMPARE(form.StatusPanel2->text(), note);
        QCOMPARE(Download(form, "\\O1234.NC"), uint8_t(0));
        QVERIFY2(form.StatusPanel2->text().isEmpty(), qPrintable(form.StatusPanel2->text()));
        QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());
    }
}

void RunEndsTest::refusedDownloadLeavesNoFullBar() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();  // a listing fills the bar
    QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());
    QVERIFY(Download(form, "\\MISSING.NC") != 0);
    QCOMPARE(form.ProgressBar1->value(), 0);
}

void RunEndsTest::abortedUploadLeavesTheBarWhereItWas() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    const QString local = fixture.WorkPath("UP.NC");
    WriteFileBytes(local, Bytes(Program(1500)));
    fixture.dialogs.openFileAnswer = local;
    fixture.dialogs.modal = [](QDialog *) { return int(TForm2::kResultOk); };
    HoldEscapeFromBlock(2);
    form.BitBtn4Click();
    WaitIdle(form);
    SetEscapeHeldOverride(nullptr);
    const QString note = QStringLiteral("Upload stopped at block 2 of 3: 512 of 1500 bytes sent");
    // The listing read after it does not fill the bar either.
    QCOMPARE(form.StatusText(1), TransferAbortedText());
    QCOMPARE(form.ProgressBar1->maximum(), 1500);
    QCOMPARE(form.ProgressBar1->value(), 512);
    QCOMPARE(form.StatusPanel2->text(), note);
    QVERIFY(LastJournalEntry(fixture).result.find(note.toStdString()) != std::string::npos);
}

void RunEndsTest::dncRunWhoseControllerGoesAway() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    const QByteArray program = Program(5000);
    WriteFileBytes(fixture.WorkPath("P.NC"), Bytes(program));
    fixture.dialogs.openFileAnswer = fixture.WorkPath("P.NC");
    RecordSentFrames();
    SetFrameObserver([&](const SentFrame &f) {
        // Block 3 goes out to a controller that has just died.
        if (f.function == 0x25 && f.number == 3 && fixture.simulator) fixture.simulator->Stop();
    });
    form.BitBtn11Click();
    QTRY_VERIFY_WITH_TIMEOUT(!form.DncRunning(), 30000);
    // Blocks 1 and 2 were taken: block 3 begins at byte 1024, which is on
    // line 1024 / 12 + 1 = 86.
    const QString where = QStringLiteral("stopped at block 3 of 10, program line 86 (byte 1024)");
    QCOMPARE(form.StatusText(1), QStringLiteral("0xff,Overtime Error 代码5f"));
    QCOMPARE(form.ProgressBar1->maximum(), 5000);
    QCOMPARE(form.ProgressBar1->value(), 1024);
    QCOMPARE(form.StatusPanel2->text(), QStringLiteral("DNC run ") + where);
    QVERIFY(!form.MessageLog1->Texts().filter(where).isEmpty());
    const journal::Entry entry = LastJournalEntry(fixture);
    QCOMPARE(entry.operation, std::string(journal::kDnc));
    QCOMPARE(QString::fromStdString(entry.result), form.StatusText(1) + QStringLiteral("; ") + where);
}

void RunEndsTest::closeDuringARunAnsweredNo() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.show();
    const QByteArray program = Program(8000);
    WriteFileBytes(fixture.WorkPath("P.NC"), Bytes(program));
    fixture.dialogs.openFileAnswer = fixture.WorkPath("P.NC");
    fixture.dialogs.confirmAnswer = false;
    bool closed = true;
    RecordSentFrames();
    SetFrameObserver([&](const SentFrame &f) {
        if (f.function != 0x25 || f.number != 3) return;
        QMetaObject::invokeMethod(&form, [&] { closed = form.close(); }, Qt::BlockingQueuedConnection);
    });
    form.BitBtn11Click();
    QTRY_VERIFY(!form.DncRunning());
    QVERIFY(!closed);
    QVERIFY(form.isVisible());
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("ask"));
    // Blocks 1 and 2 of 16 were taken when the question came.
    QCOMPARE(fixture.dialogs.shown[0].text,
             QStringLiteral("A DNC run is streaming %1 to device 1 (127.0.0.1:%2): block 3 of 16, 1024 of 8000 "
                            "bytes taken.\nStop the run as 停止DNC加工 does, and close the window?")
                 .arg(fixture.WorkPath("P.NC"))
                 .arg(fixture.simulator->UdpPort()));
    // The run went on to its end.
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());
    QVERIFY(form.StatusPanel2->text().isEmpty());
}

QTEST_MAIN(RunEndsTest)
#include "tst_runends.moc"
