// DNC runs through the window against the simulated controller: what the
// controller receives byte for byte, busy and abnormal answers, Stop in its
// several moments, the window's refusals while a run streams, and closing
// the window under a run.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTreeWidget>

#include "tests/app/app_fixture.h"
#include "app/dnc_worker.h"
#include "app/gbk_text.h"
#include "journal/journal.h"
#include "nccmd/nc_protocol.h"

namespace {

constexpr uint32_t kAbort = nccmd::AbortBlockNumber;

QByteArray Program(int size) {
    // Lines of NC text, LF only, so memo characters and file bytes agree.
    QByteArray bytes;
    for (int line = 0; bytes.size() < size; ++line) bytes += QByteArray("N") + QByteArray::number(line) + " G01 X1.5\n";
    bytes.truncate(size);
    return bytes;
}

std::vector<uint8_t> Bytes(const QByteArray &a) { return std::vector<uint8_t>(a.begin(), a.end()); }

// The DNC frames (0x25) after the announcement, by block number.
std::vector<uint32_t> DataBlocks() {
    std::vector<uint32_t> blocks;
    for (const SentFrame &f : SentFrames())
        if (f.function == 0x25 && f.TextFrom(12) != "%NetDNCRun") blocks.push_back(f.number);
    return blocks;
}

std::vector<const SentFrame *> Announcements() {
    std::vector<const SentFrame *> found;
    for (const SentFrame &f : SentFrames())
        if (f.function == 0x25 && f.number == 0 && f.TextFrom(12) == "%NetDNCRun") found.push_back(&f);
    return found;
}

std::vector<uint32_t> Numbers(std::initializer_list<uint32_t> list) { return list; }

std::vector<uint32_t> OneToN(uint32_t n) {
    std::vector<uint32_t> blocks;
    for (uint32_t k = 1; k <= n; ++k) blocks.push_back(k);
    return blocks;
}

// Runs `action` on the window thread and waits for it: how a test acts as
// the user at an exact moment of the worker's stream.
void OnWindow(TForm1 &form, const std::function<void()> &action) {
    QMetaObject::invokeMethod(&form, action, Qt::BlockingQueuedConnection);
}

struct DncFixture : AppFixture {
    explicit DncFixture(ncsim::Options options = {}) {
        options.captureFile = WorkPath("capture.bin").toStdString();
        RestartSimulator(options);
    }
    QString WriteProgram(const QByteArray &content) {
        const QString path = WorkPath("PROGRAM.NC");
        WriteFileBytes(path, Bytes(content));
        dialogs.openFileAnswer = path;
        return path;
    }
    std::vector<uint8_t> Captured() { return ReadFileBytes(WorkPath("capture.bin")); }
};

// Starts a run and waits until the worker has ended.
bool RunToEnd(TForm1 &form) {
    form.BitBtn11Click();
    return QTest::qWaitFor([&] { return !form.DncRunning(); });
}

}  // namespace

class DncTest : public QObject {
    Q_OBJECT
private slots:
    void streamsTheProgramExactly_data();
    void streamsTheProgramExactly();
    void busyAnswersResendTheBlock();
    void abnormalState_data();
    void abnormalState();
    void stopWhileStreaming();
    void stopWhileBusy();
    void stopWithNoRun();
    void startAgainDuringAStoppingRun();
    void requestsAreRefusedDuringARun();
    void cancelledDialogAndMissingFile();
    void memoIsClearedPastOneMebibyte();
    void closeDuringARun();
    void windowGoesWhileTheFileIsAsked();
    void serialLink();
};

void DncTest::streamsTheProgramExactly_data() {
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QByteArray>("expected");  // as the controller takes it
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("1024 bytes") << Program(1024) << Program(1024);
    QTest::newRow("1025 bytes") << Program(1025) << Program(1025);
    // Only the program's first byte is replaced, and only a '%'. The
    // program's last byte, a CR, still reaches the memo.
    const QByteArray percent = "%\nO0001(DNC)\nG00 X0 %\n" + Program(700) + "M30\n%\r";
    QByteArray taken = percent;
    taken[0] = '\r';
    QTest::newRow("leading percent") << percent << taken;
}

void DncTest::streamsTheProgramExactly() {
    QFETCH(QByteArray, program);
    QFETCH(QByteArray, expected);
    DncFixture fixture;
    TForm1 &form = fixture.Open();
    fixture.WriteProgram(program);
    form.Memo1->setPlainText("old text");
    RecordSentFrames();
    form.BitBtn11Click();
    // Start: the button is off and the memo empty before the worker does
    // anything (it asks the window for the file first).
    QVERIFY(form.DncRunning());
    QVERIFY(!form.BitBtn11->isEnabled());
    QVERIFY(form.Memo1->toPlainText().isEmpty());
    QVERIFY(QTest::qWaitFor([&] { return !form.DncRunning(); }));

    QCOMPARE(fixture.Captured(), Bytes(expected));
    const uint32_t blocks = (program.size() + 511) / 512;
    QCOMPARE(Announcements().size(), size_t(1));
    const SentFrame &announce = *Announcements().front();
    QCOMPARE(announce.length, uint16_t(22));
    QCOMPARE(announce.Header(4), blocks);
    QCOMPARE(announce.Header(8), uint32_t(program.size()));
    QCOMPARE(DataBlocks(), OneToN(blocks));
    // The memo shows the program as sent.
    GbkBlockDecoder decoder;
    QString shown = decoder.Decode(expected.constData(), expected.size());
    shown += decoder.Finish();
    QCOMPARE(form.Memo1->toPlainText(), shown);
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QVERIFY(form.ProgressBar1->maximum() > 0);
    QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());
    QVERIFY(form.BitBtn11->isEnabled());
    QVERIFY(!form.Memo1->isReadOnly());
    QVERIFY(form.StatusPanel2->text().isEmpty());
    QCOMPARE(int(DncStopRequested.load()), 0);
    QCOMPARE(fixture.dialogs.lastInitialName, QStringLiteral("DROPGLUE.CNC"));
}

void DncTest::busyAnswersResendTheBlock() {
    ncsim::Options options;
    options.busyPerBlock = 2;
    DncFixture fixture(options);
    TForm1 &form = fixture.Open();
    const QByteArray program = Program(1300);
    fixture.WriteProgram(program);
    RecordSentFrames();
    QVERIFY(RunToEnd(form));
    // Each block but the last is answered busy twice; the last is sent once.
    QCOMPARE(DataBlocks(), Numbers({1, 1, 1, 2, 2, 2, 3}));
    QCOMPARE(fixture.Captured(), Bytes(program));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(form.Memo1->toPlainText().toLatin1(), program);
}

void DncTest::abnormalState_data() {
    QTest::addColumn<int>("atBlock");
    QTest::addColumn<std::vector<uint32_t>>("blocks");
    QTest::addColumn<int>("takenBytes");
    QTest::addColumn<QString>("status");
    QTest::newRow("block 2 of 3") << 2 << Numbers({1, 2}) << 512 << QStringLiteral("下位机出现异常状态 异常代码:-17");
    // The last block's answer is not examined.
    QTest::newRow("last block") << 3 << Numbers({1, 2, 3}) << 1024 << QStringLiteral("Operation Successful");
}

void DncTest::abnormalState() {
    QFETCH(int, atBlock);
    QFETCH(std::vector<uint32_t>, blocks);
    QFETCH(int, takenBytes);
    QFETCH(QString, status);
    ncsim::Options options;
    options.abnormalAtBlock = atBlock;
    options.abnormalCode = -17;
    DncFixture fixture(options);
    TForm1 &form = fixture.Open();
    const QByteArray program = Program(1300);
    fixture.WriteProgram(program);
    RecordSentFrames();
    QVERIFY(RunToEnd(form));
    QCOMPARE(DataBlocks(), blocks);
    QCOMPARE(fixture.Captured(), Bytes(program.left(takenBytes)));
    // The abnormal state's text is the final one.
    QCOMPARE(form.StatusText(1), status);
    QVERIFY(form.BitBtn11->isEnabled());
}

void DncTest::stopWhileStreaming() {
    DncFixture fixture;
    TForm1 &form = fixture.Open();
    const QByteArray program = Program(5000);
    fixture.WriteProgram(program);
    RecordSentFrames();
    QString rate;
    SetFrameObserver([&](const SentFrame &f) {
        if (f.function != 0x25 || f.number != 3) return;
        OnWindow(form, [&] {
            form.ShowPendingReports();
            rate = form.StatusPanel2->text();
            form.BitBtn12Click();
        });
    });
    QVERIFY(RunToEnd(form));
    // Block 3 was on its way; the next piece of the file goes as the abort
    // block, and the controller takes it as the end of the run.
    QCOMPARE(DataBlocks(), Numbers({1, 2, 3, kAbort}));
    const SentFrame &abortFrame = SentFrames().back();
    QCOMPARE(abortFrame.TextFrom(4), program.mid(1536, 512).toStdString());
    QCOMPARE(fixture.Captured(), Bytes(program.left(1536)));
    QCOMPARE(form.StatusText(1), DncStoppedText());
    // The bar shows what the controller took, not a finished run.
    QCOMPARE(form.ProgressBar1->value(), 1536);
    QCOMPARE(form.ProgressBar1->maximum(), 5000);
    QVERIFY(form.BitBtn11->isEnabled());
    QCOMPARE(int(DncStopRequested.load()), 0);
    // While it ran, the rate panel counted blocks of the whole program.
    QVERIFY2(rate.startsWith(QStringLiteral("Block 2/10")), qPrintable(rate));
    // Then it tells where the run stopped: block 4 begins at byte 1536, on
    // the program's line 1 + the line feeds before it.
    const int line = int(program.left(1536).count('\n')) + 1;
    QCOMPARE(form.StatusPanel2->text(),
             QStringLiteral("DNC run stopped at block 4 of 10, program line %1 (byte 1536)").arg(line));
}

void DncTest::stopWhileBusy() {
    ncsim::Options options;
    options.busyPerBlock = 1000000;  // block 1 is never taken
    DncFixture fixture(options);
    TForm1 &form = fixture.Open();
    const QByteArray program = Program(1300);
    fixture.WriteProgram(program);
    RecordSentFrames();
    int tries = 0;
    SetFrameObserver([&](const SentFrame &f) {
        if (f.function != 0x25 || f.number != 1 || ++tries != 3) return;
        OnWindow(form, [&] { form.BitBtn12Click(); });
    });
    QVERIFY(RunToEnd(form));
    // The block in hand goes again, now as the abort block.
    QCOMPARE(DataBlocks(), Numbers({1, 1, 1, kAbort}));
    QCOMPARE(SentFrames().back().TextFrom(4), program.left(512).toStdString());
    QVERIFY(fixture.Captured().empty());
    QCOMPARE(form.StatusText(1), QStringLiteral("DNC数据传异常终止"));
    QVERIFY(form.BitBtn11->isEnabled());
    QCOMPARE(int(DncStopRequested.load()), 0);
}

void DncTest::stopWithNoRun() {
    DncFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn12Click();
    QVERIFY(form.BitBtn11->isEnabled());
    QCOMPARE(int(DncStopRequested.load()), 1);
    // The stop does not carry over into the next run.
    const QByteArray program = Program(1300);
    fixture.WriteProgram(program);
    RecordSentFrames();
    QVERIFY(RunToEnd(form));
    QCOMPARE(DataBlocks(), Numbers({1, 2, 3}));
    QCOMPARE(fixture.Captured(), Bytes(program));
    QCOMPARE(int(DncStopRequested.load()), 0);
}

void DncTest::startAgainDuringAStoppingRun() {
    ncsim::Options options;
    options.busyPerBlock = 3;
    DncFixture fixture(options);
    TForm1 &form = fixture.Open();
    fixture.WriteProgram(Program(3000));
    RecordSentFrames();
    QStringList seen;
    int tries = 0;
    SetFrameObserver([&](const SentFrame &f) {
        if (f.function != 0x25 || f.number != 2) return;
        ++tries;
        OnWindow(form, [&] {
            if (tries == 1) form.BitBtn12Click();
            // Stopping, not yet ended: Start is refused, on the button and
            // when clicked.
            seen.append(QStringLiteral("%1|%2").arg(form.BitBtn11->isEnabled()).arg(form.DncRunning()));
            form.BitBtn11Click();
            seen.append(form.StatusText(1));
        });
    });
    QVERIFY(RunToEnd(form));
    QCOMPARE(Announcements().size(), size_t(1));
    QCOMPARE(DataBlocks(), Numbers({1, 1, 1, 1, 2, kAbort}));
    QCOMPARE(seen, (QStringList{"0|1", DncRunningRefusalText()}));
    QVERIFY(form.BitBtn11->isEnabled());
    // And a new run starts once the first has ended.
    ClearSentFrames();
    SetFrameObserver(nullptr);
    QVERIFY(RunToEnd(form));
    QCOMPARE(Announcements().size(), size_t(1));
}

void DncTest::requestsAreRefusedDuringARun() {
    DncFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(ClickItem(form, "O0001.CNC"));
    const QByteArray program = Program(3000);
    fixture.WriteProgram(program);
    fixture.dialogs.confirmAnswer = true;
    RecordSentFrames();
    QStringList seen;
    SetFrameObserver([&](const SentFrame &f) {
        if (f.function != 0x25 || f.number != 2) return;
        OnWindow(form, [&] {
            const size_t before = SentFrames().size();
            const QList<std::function<void()>> actions{
                [&] { form.BitBtn7Click(); },       [&] { form.ListView1DblClick(); },
                [&] { form.BitBtn8Click(); },       [&] { form.BitBtn2Click(); },
                [&] { form.BitBtn4Click(); },       [&] { form.BitBtn10Click(); },
                [&] { form.NC1Click(); },           [&] { form.N5Click(); },
                [&] { form.CB3->setEditText("2"); },
            };
            for (const auto &action : actions) {
                form.StatusPanel1->clear();
                action();
                seen.append(form.StatusText(1));
            }
            seen.append(QStringLiteral("%1 frames").arg(SentFrames().size() - before));
            // Other controls take the user's typing meanwhile.
            form.Edit2->clear();
            QTest::keyClicks(form.Edit2, "42");
            seen.append(QStringLiteral("%1|%2|%3")
                            .arg(form.CB3->isEnabled())
                            .arg(form.Memo1->isReadOnly())
                            .arg(form.Edit1->isEnabled()));
        });
    });
    QVERIFY(RunToEnd(form));
    QStringList expected(9, DncRunningRefusalText());
    expected << "0 frames" << "0|1|1";
    QCOMPARE(seen, expected);
    QVERIFY(fixture.dialogs.shown.isEmpty());
    QCOMPARE(form.DeviceId, uint8_t(1));
    QCOMPARE(form.Edit2->text(), QStringLiteral("42"));
    // The stream was not mixed with anything.
    QCOMPARE(DataBlocks(), OneToN(6));
    QCOMPARE(fixture.Captured(), Bytes(program));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    // Afterwards the window serves requests again.
    form.BitBtn8Click();
    QCOMPARE(ListCaptions(form), kSampleRoot);
}

void DncTest::cancelledDialogAndMissingFile() {
    DncFixture fixture;
    TForm1 &form = fixture.Open();
    RecordSentFrames();
    fixture.dialogs.openFileAnswer.clear();
    QVERIFY(RunToEnd(form));
    QVERIFY(SentFrames().empty());
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QVERIFY(form.BitBtn11->isEnabled());

    fixture.dialogs.openFileAnswer = fixture.WorkPath("GONE.NC");
    QVERIFY(RunToEnd(form));
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].title, QStringLiteral("文件操作错误"));
    QCOMPARE(fixture.dialogs.shown[0].text, QStringLiteral("此文件不存在!!!!"));
    // Not reported as a success.
    QCOMPARE(form.StatusText(1), QString());
    QVERIFY(form.BitBtn11->isEnabled());
    // The dialog opens next time on the file chosen last.
    fixture.dialogs.openFileAnswer.clear();
    QVERIFY(RunToEnd(form));
    QCOMPARE(fixture.dialogs.lastInitialName, fixture.WorkPath("GONE.NC"));
}

void DncTest::memoIsClearedPastOneMebibyte() {
    DncFixture fixture;
    TForm1 &form = fixture.Open();
    const QByteArray program = Program(1200 * 1024);
    fixture.WriteProgram(program);
    QVERIFY(RunToEnd(form));
    QCOMPARE(fixture.Captured(), Bytes(program));
    // After block 2049 the memo holds 1,049,088 characters, more than
    // 1,048,576: it is emptied before block 2050 and then holds the rest.
    QCOMPARE(form.Memo1->toPlainText().toLatin1(), program.mid(2049 * 512));
}

void DncTest::closeDuringARun() {
    DncFixture fixture;
    TForm1 &form = fixture.Open();
    form.show();
    const QByteArray program = Program(20000);
    fixture.WriteProgram(program);
    RecordSentFrames();
    SetFrameObserver([&](const SentFrame &f) {
        if (f.function != 0x25 || f.number != 2) return;
        // The user closes the window; block 2 goes out once the close has
        // begun (it cannot be waited for on the window thread: the close
        // waits for this thread).
        QMetaObject::invokeMethod(&form, [&] { form.close(); }, Qt::QueuedConnection);
        for (int i = 0; i < 10000 && DncStopRequested.load() == 0; ++i) QThread::msleep(1);
    });
    form.BitBtn11Click();
    QVERIFY(QTest::qWaitFor([&] { return !form.isVisible(); }));
    // The close asked, then stopped the run as Stop does and waited for
    // its worker.
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("ask"));
    QVERIFY(fixture.dialogs.shown[0].text.startsWith(QStringLiteral("A DNC run is streaming ")));
    QVERIFY(!form.DncRunning());
    QCOMPARE(DataBlocks(), Numbers({1, 2, kAbort}));
    QCOMPARE(fixture.Captured(), Bytes(program.left(1024)));
    QCOMPARE(int(DncStopRequested.load()), 0);
    // Its journal line says where it stopped.
    std::string error;
    const auto entries = journal::ReadAll(fixture.JournalFile().toStdString(), &error);
    QCOMPARE(entries.size(), size_t(1));
    QCOMPARE(entries[0].result, (DncStoppedText() + "; stopped at block 3 of 40, program line %1 (byte 1024)")
                                    .arg(program.left(1024).count('\n') + 1)
                                    .toStdString());
    fixture.form.reset();
}

void DncTest::windowGoesWhileTheFileIsAsked() {
    DncFixture fixture;
    fixture.WriteProgram(Program(1300));
    RecordSentFrames();
    // The worker waits for the window to ask for the file; the window goes
    // first, closed, or destroyed without a close. Neither waits forever
    // for the other, and the question is never asked.
    TForm1 &form = fixture.Open();
    form.show();
    form.BitBtn11Click();
    QVERIFY(form.close());
    QVERIFY(!form.DncRunning());
    QVERIFY(form.BitBtn11->isEnabled());
    fixture.Open().BitBtn11Click();
    fixture.form.reset();
    QTest::qWait(0);
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.lastInitialName, QString());
}

void DncTest::serialLink() {
    DncFixture fixture;
    ncsim::Options options;
    options.root = fixture.StoragePath().toStdString();
    options.captureFile = fixture.WorkPath("serial.bin").toStdString();
    options.busyPerBlock = 1;
    ncsim::Simulator serialController(options);
    QVERIFY2(serialController.StartPty(), serialController.LastError().c_str());
    TForm1 &form = fixture.Open(0, {}, QString::fromStdString(serialController.PtyPath()));
    // The worker waits on the serial line without running the window's
    // event processing on its own thread.
    const QByteArray program = "%\nO0002\n" + Program(2000);
    fixture.WriteProgram(program);
    QVERIFY(RunToEnd(form));
    QByteArray taken = program;
    taken[0] = '\r';
    QCOMPARE(ReadFileBytes(fixture.WorkPath("serial.bin")), Bytes(taken));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    form.close();
    serialController.Stop();
}

QTEST_MAIN(DncTest)
#include "tst_dnc.moc"
