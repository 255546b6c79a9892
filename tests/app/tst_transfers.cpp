// Download into the memo, upload and save-as: the block sequences the
// controller sees, Escape aborts, local files, and the one-request rule.
#include <sys/stat.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>

#include "app/Unit2.h"
#include "tests/app/app_fixture.h"
#include "app/escape_key.h"
#include "app/gbk_text.h"
#include "app/message_log.h"
#include "nccmd/nc_protocol.h"
#include "core/request_engine.h"
#include "app/transfer_rate.h"
#include "link/udp_link.h"

namespace {

constexpr uint32_t kAbort = nccmd::AbortBlockNumber;

std::vector<uint8_t> Bytes(const QByteArray &a) { return std::vector<uint8_t>(a.begin(), a.end()); }

QByteArray Pattern(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) bytes[i] = char('A' + i % 23);
    return bytes;
}

// The block numbers of the write frames (0x25), in order.
std::vector<uint32_t> WriteBlocks() {
    std::vector<uint32_t> blocks;
    for (const SentFrame &f : SentFrames())
        if (f.function == 0x25) blocks.push_back(f.number);
    return blocks;
}

std::vector<uint16_t> WriteLengths() {
    std::vector<uint16_t> lengths;
    for (const SentFrame &f : SentFrames())
        if (f.function == 0x25) lengths.push_back(f.length);
    return lengths;
}

// The read frames after the opening one, by block number.
std::vector<uint32_t> ReadBlocks() {
    std::vector<uint32_t> blocks;
    for (const SentFrame &f : SentFrames())
        if (f.function == 0x24 && f.length == 4) blocks.push_back(f.number);
    return blocks;
}

bool HasListingRequest() {
    for (const SentFrame &f : SentFrames())
        if (f.TextFrom(4).rfind("%DirList%%", 0) == 0) return true;
    return false;
}

// Answers the path dialog: keep or replace the proposed path, then a result.
std::function<int(QDialog *)> AnswerPathDialog(int result, QString *proposed, const QString &replace = {}) {
    return [=](QDialog *dialog) {
        auto *form2 = static_cast<TForm2 *>(dialog);
        *proposed = form2->Edit1->text() + (form2->SpeedButton1->isHidden() ? "|hidden" : "|shown");
        if (!replace.isEmpty()) form2->Edit1->setText(replace);
        return result;
    };
}

void EnterPrg(TForm1 &form) {
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
}

TForm1 *busyForm = nullptr;
QStringList busyObservations;

}  // namespace

class TransfersTest : public QObject {
    Q_OBJECT
private slots:
    void downloadShowsGbkTextAndSavesBackIdentical();
    void downloadCutsEachBlockAtNul();
    void downloadOfEmptyFile();
    void progressCountsBytesAgainstTheFileSize();
    void escapeAbortsDownloadAfterBlockZero();
    void uploadBlockSequence_data();
    void uploadBlockSequence();
    void uploadCancelledSendsNothing();
    void uploadOfMissingFile();
    void uploadUnsuitablePathIsRefused();
    void escapeAbortsUpload();
    void saveAsRefusesEmptyMemoAndMissingName();
    void saveAsOf512Characters();
    void saveAsRefusesTextOutsideGbk();
    void saveAsLocalSaveSendsNothing();
    void escapeAbortsSaveAs();
    void requestsAreRefusedWhileOneRuns();
    void closeDuringTransferAbortsThenCloses();
    void closeDuringTransferAnsweredNo();
    void longDownloadArrivesWholeAtTheMemosPace();
    void destroyedDuringTransferEndsItsWorker();
    void serialLinkOverPseudoTerminal();
    void charactersAndLineBreaksAcrossBlocks();
    void linkMessagesStayOutOfTheDownload();
    void repeatedAnswersNeverShiftTheDownload();
    void ratePanelDuringDownloadAndUpload();
    void rateText_data();
    void rateText();
};

void TransfersTest::downloadShowsGbkTextAndSavesBackIdentical() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    EnterPrg(form);
    const QByteArray original = [&] {
        QFile f(fixture.StoragePath("PRG/O0002.CNC"));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    QVERIFY(original.size() > 1024);  // several blocks
    RecordSentFrames();
    QCOMPARE(Download(form, "\\PRG\\O0002.CNC"), uint8_t(0));
    const uint32_t blocks = (original.size() + 511) / 512;
    std::vector<uint32_t> expected;
    for (uint32_t k = 1; k <= blocks; ++k) expected.push_back(k);
    QCOMPARE(ReadBlocks(), expected);
    QCOMPARE(MemoTextToGbk(form.Memo1->toPlainText()), original);
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));

    // The program with the GBK comment reads as Chinese and, saved back
    // under a new name, arrives byte for byte.
    QCOMPARE(Download(form, "\\PRG\\O0001.CNC"), uint8_t(0));
    QVERIFY(form.Memo1->toPlainText().contains(QStringLiteral("主程序")));
    QVERIFY(ClickItem(form, "O0001.CNC"));
    QString proposed;
    fixture.dialogs.modal = AnswerPathDialog(TForm2::kResultOk, &proposed, "\\PRG\\COPY.CNC");
    form.BitBtn10Click();
    WaitIdle(form);
    QCOMPARE(proposed, QStringLiteral("\\PRG\\O0001.CNC|shown"));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(ReadFileBytes(fixture.StoragePath("PRG/COPY.CNC")), ReadFileBytes(fixture.StoragePath("PRG/O0001.CNC")));
    QVERIFY(ListCaptions(form).contains("COPY.CNC"));
}

void TransfersTest::downloadCutsEachBlockAtNul() {
    AppFixture fixture;
    QByteArray content = Pattern(1100);
    content[100] = '\0';  // block 1 shows 100 bytes
    content[600] = '\0';  // block 2 shows bytes 512..599
    WriteFileBytes(fixture.StoragePath("NUL.NC"), Bytes(content));
    TForm1 &form = fixture.Open();
    form.Memo1->setPlainText("old text");
    QCOMPARE(Download(form, "\\NUL.NC"), uint8_t(0));
    const QByteArray expected = content.left(100) + content.mid(512, 88) + content.mid(1024);
    QCOMPARE(form.Memo1->toPlainText().toLatin1(), expected);
    QVERIFY(!form.Memo1->isReadOnly());
}

void TransfersTest::downloadOfEmptyFile() {
    AppFixture fixture;
    WriteFileBytes(fixture.StoragePath("EMPTY.NC"), {});
    TForm1 &form = fixture.Open();
    form.Memo1->setPlainText("old text");
    RecordSentFrames();
    QCOMPARE(Download(form, "\\EMPTY.NC"), uint8_t(0));
    QCOMPARE(SentFrames().size(), size_t(1));
    QVERIFY(form.Memo1->toPlainText().isEmpty());
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    // A finished transfer of nothing shows a full bar, not the endless
    // "still working" animation of an empty range.
    QVERIFY(form.ProgressBar1->maximum() > form.ProgressBar1->minimum());
    QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());
}

void TransfersTest::progressCountsBytesAgainstTheFileSize() {
    AppFixture fixture;
    WriteFileBytes(fixture.StoragePath("THREE.NC"), Bytes(Pattern(1300)));
    TForm1 &form = fixture.Open();
    busyForm = &form;
    busyObservations.clear();
    // Seen before each block: the bar's range is the byte size and it has
    // moved by one block per block read.
    SetEscapeHeldOverride([] {
        OnWindowThread([] {
            busyObservations.append(
                QStringLiteral("%1|%2").arg(busyForm->ProgressBar1->maximum()).arg(busyForm->ProgressBar1->value()));
        });
        return false;
    });
    QCOMPARE(Download(form, "\\THREE.NC"), uint8_t(0));
    QCOMPARE(busyObservations, (QStringList{"1300|0", "1300|512", "1300|1024"}));
    QCOMPARE(form.ProgressBar1->value(), 1300);
    busyForm = nullptr;
}

void TransfersTest::escapeAbortsDownloadAfterBlockZero() {
    AppFixture fixture;
    WriteFileBytes(fixture.StoragePath("THREE.NC"), Bytes(Pattern(1300)));
    TForm1 &form = fixture.Open();
    SetEscapeHeldOverride([] { return true; });
    RecordSentFrames();
    Download(form, "\\THREE.NC");
    QCOMPARE(SentFrames().size(), size_t(2));
    QCOMPARE(SentFrames()[0].TextFrom(4), std::string("\\THREE.NC"));
    QCOMPARE(ReadBlocks(), std::vector<uint32_t>{kAbort});
    QCOMPARE(form.StatusText(1), TransferAbortedText());
}

void TransfersTest::uploadBlockSequence_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<std::vector<uint16_t>>("lengths");  // payload lengths, announcement first
    QTest::newRow("empty") << 0 << std::vector<uint16_t>{12 + 10};
    QTest::newRow("1024") << 1024 << std::vector<uint16_t>{12 + 10, 516, 516};
    QTest::newRow("1025") << 1025 << std::vector<uint16_t>{12 + 10, 516, 516, 5};
}

void TransfersTest::uploadBlockSequence() {
    QFETCH(int, size);
    QFETCH(std::vector<uint16_t>, lengths);
    AppFixture fixture;
    const QByteArray content = Pattern(size);
    const QString local = fixture.WorkPath("UP.NC");
    WriteFileBytes(local, Bytes(content));
    TForm1 &form = fixture.Open();
    EnterPrg(form);
    fixture.dialogs.openFileAnswer = local;
    QString proposed;
    fixture.dialogs.modal = AnswerPathDialog(TForm2::kResultOk, &proposed);
    RecordSentFrames();
    form.BitBtn4Click();
    WaitIdle(form);
    QCOMPARE(fixture.dialogs.lastInitialName, QStringLiteral("DROPGLUE.CNC"));
    QCOMPARE(proposed, QStringLiteral("\\PRG\\UP.NC|hidden"));
    QCOMPARE(WriteLengths(), lengths);
    std::vector<uint32_t> blocks{0};
    for (uint32_t k = 1; k < lengths.size(); ++k) blocks.push_back(k);
    QCOMPARE(WriteBlocks(), blocks);
    const SentFrame &announce = SentFrames().front();
    QCOMPARE(announce.Header(4), uint32_t((size + 511) / 512));
    QCOMPARE(announce.Header(8), uint32_t(size));
    QCOMPARE(announce.TextFrom(12), std::string("\\PRG\\UP.NC"));
    QVERIFY(HasListingRequest());
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(ReadFileBytes(fixture.StoragePath("PRG/UP.NC")), Bytes(content));
    QVERIFY(ListCaptions(form).contains("UP.NC"));
    QVERIFY(form.ProgressBar1->maximum() > form.ProgressBar1->minimum());
    QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());

    // The upload's dialog had no save button; Save As after it still offers it.
    form.Memo1->setPlainText("G00");
    form.SelectedFileName = "UP.NC";
    fixture.dialogs.modal = AnswerPathDialog(TForm2::kResultCancel, &proposed);
    form.BitBtn10Click();
    WaitIdle(form);
    QCOMPARE(proposed, QStringLiteral("\\PRG\\UP.NC|shown"));
}

void TransfersTest::uploadCancelledSendsNothing() {
    AppFixture fixture;
    const QString local = fixture.WorkPath("UP.NC");
    WriteFileBytes(local, Bytes(Pattern(10)));
    TForm1 &form = fixture.Open();
    form.StatusPanel1->setText("marker");
    RecordSentFrames();
    fixture.dialogs.openFileAnswer.clear();  // file dialog cancelled
    form.BitBtn4Click();
    WaitIdle(form);
    fixture.dialogs.openFileAnswer = local;  // path dialog cancelled
    QString proposed;
    fixture.dialogs.modal = AnswerPathDialog(TForm2::kResultCancel, &proposed);
    form.BitBtn4Click();
    WaitIdle(form);
    QCOMPARE(proposed, QStringLiteral("\\UP.NC|hidden"));
    QVERIFY(SentFrames().empty());
    QCOMPARE(form.StatusText(1), QStringLiteral("marker"));
    QVERIFY(fixture.dialogs.shown.isEmpty());
    // The file dialog opens next time on the file chosen last, as a file
    // dialog keeps its file name; a cancelled one leaves it as it was.
    QCOMPARE(fixture.dialogs.lastInitialName, QStringLiteral("DROPGLUE.CNC"));
    form.BitBtn4Click();
    WaitIdle(form);
    QCOMPARE(fixture.dialogs.lastInitialName, local);
    fixture.dialogs.openFileAnswer.clear();
    form.BitBtn4Click();
    WaitIdle(form);
    form.BitBtn4Click();
    WaitIdle(form);
    QCOMPARE(fixture.dialogs.lastInitialName, local);
}

void TransfersTest::uploadOfMissingFile() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    // Gone by the time it is read, and a named pipe, whose opening would
    // wait for a writer that never comes and freeze the window.
    QVERIFY(::mkfifo(fixture.WorkPath("PIPE.NC").toLocal8Bit().constData(), 0600) == 0);
    for (const QString &name : {QStringLiteral("GONE.NC"), QStringLiteral("PIPE.NC")}) {
        fixture.dialogs.shown.clear();
        fixture.dialogs.openFileAnswer = fixture.WorkPath(name);
        QString proposed;
        fixture.dialogs.modal = AnswerPathDialog(TForm2::kResultOk, &proposed);
        RecordSentFrames();
        form.BitBtn4Click();
        WaitIdle(form);
        QVERIFY(SentFrames().empty());
        QCOMPARE(fixture.dialogs.shown.size(), 1);
        QCOMPARE(fixture.dialogs.shown[0].title, QStringLiteral("文件操作错误"));
        QCOMPARE(fixture.dialogs.shown[0].text, QStringLiteral("此文件不存在!!!!"));
        QVERIFY(!form.Busy());
    }
}

void TransfersTest::uploadUnsuitablePathIsRefused() {
    AppFixture fixture;
    const QString local = fixture.WorkPath("UP.NC");
    WriteFileBytes(local, Bytes(Pattern(10)));
    TForm1 &form = fixture.Open();
    fixture.dialogs.openFileAnswer = local;
    // Too long for the request, empty, and a character the controller's
    // code page cannot store (it would arrive as '?').
    for (const QString &path :
         {QStringLiteral("\\") + QString(99, QChar('X')), QString(), QStringLiteral("\\O1✓.NC")}) {
        fixture.dialogs.shown.clear();
        fixture.dialogs.modal = [path](QDialog *d) {
            static_cast<TForm2 *>(d)->Edit1->setText(path);
            return int(TForm2::kResultOk);
        };
        RecordSentFrames();
        form.BitBtn4Click();
        WaitIdle(form);
        QVERIFY(SentFrames().empty());
        QCOMPARE(fixture.dialogs.shown.size(), 1);
        QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("error"));
    }
}

void TransfersTest::escapeAbortsUpload() {
    AppFixture fixture;
    const QString local = fixture.WorkPath("UP.NC");
    WriteFileBytes(local, Bytes(Pattern(1500)));
    TForm1 &form = fixture.Open();
    fixture.dialogs.openFileAnswer = local;
    QString proposed;
    fixture.dialogs.modal = AnswerPathDialog(TForm2::kResultOk, &proposed);
    SetEscapeHeldOverride([] { return true; });
    RecordSentFrames();
    form.BitBtn4Click();
    WaitIdle(form);
    QCOMPARE(WriteBlocks(), (std::vector<uint32_t>{0, kAbort}));
    QCOMPARE(form.StatusText(1), TransferAbortedText());
    // The controller discards an upload that ended early.
    QVERIFY(!QFile::exists(fixture.StoragePath("UP.NC")));
}

void TransfersTest::saveAsRefusesEmptyMemoAndMissingName() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    RecordSentFrames();
    form.SelectedFileName = "A.NC";
    form.BitBtn10Click();
    WaitIdle(form);
    form.Memo1->setPlainText("G00 X0");
    form.SelectedFileName.clear();
    form.BitBtn10Click();
    WaitIdle(form);
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.Texts(), (QStringList{"下载文件不能为空!!!", "文件名不能为空!!!"}));
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("error"));
    QCOMPARE(fixture.dialogs.shown[1].kind, QStringLiteral("error"));
}

void TransfersTest::saveAsOf512Characters() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    const QByteArray text = Pattern(512);
    form.Memo1->setPlainText(QString::fromLatin1(text));
    form.SelectedFileName = "S512.NC";
    QString proposed;
    fixture.dialogs.modal = AnswerPathDialog(TForm2::kResultOk, &proposed);
    RecordSentFrames();
    form.BitBtn10Click();
    WaitIdle(form);
    QCOMPARE(proposed, QStringLiteral("\\S512.NC|shown"));
    QCOMPARE(WriteBlocks(), (std::vector<uint32_t>{0, 1}));
    QCOMPARE(WriteLengths(), (std::vector<uint16_t>{12 + 8, 516}));
    QCOMPARE(SentFrames().front().Header(8), 512u);
    QCOMPARE(ReadFileBytes(fixture.StoragePath("S512.NC")), Bytes(text));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
}

void TransfersTest::saveAsRefusesTextOutsideGbk() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    // Korean text has no GBK code: saved, it would silently become "??".
    form.Memo1->setPlainText(QStringLiteral("%\nO0010(한국)\nM30\n%"));
    form.SelectedFileName = "O0010.NC";
    QString proposed;
    fixture.dialogs.modal = AnswerPathDialog(TForm2::kResultOk, &proposed);
    form.StatusPanel1->setText("marker");
    RecordSentFrames();
    form.BitBtn10Click();
    WaitIdle(form);
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("error"));
    QVERIFY(fixture.dialogs.shown[0].text.contains(QStringLiteral("한")));
    QCOMPARE(form.StatusText(1), QStringLiteral("marker"));
    QVERIFY(!QFile::exists(fixture.StoragePath("O0010.NC")));

    // A downloaded program with a byte that is no GBK text cannot go back
    // unchanged either: the user is told instead of the byte becoming '?'.
    WriteFileBytes(fixture.StoragePath("BAD.NC"), Bytes(QByteArray("G01 X1 (\xb0 )\r\nM30\r\n")));
    QCOMPARE(Download(form, "\\BAD.NC"), uint8_t(0));
    form.SelectedFileName = "BAD.NC";
    fixture.dialogs.shown.clear();
    form.BitBtn10Click();
    WaitIdle(form);
    QVERIFY(SentFrames().size() == 2);  // the download's block 0 and block 1 only
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QVERIFY(fixture.dialogs.shown[0].text.contains(QStringLiteral("not valid GBK")));
    QCOMPARE(ReadFileBytes(fixture.StoragePath("BAD.NC")), Bytes(QByteArray("G01 X1 (\xb0 )\r\nM30\r\n")));
}

void TransfersTest::saveAsLocalSaveSendsNothing() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.Memo1->setPlainText(QStringLiteral("%\nO0009(中文)\nM30\n%"));
    form.SelectedFileName = "O0009.NC";
    const QString local = fixture.WorkPath("LOCAL.NC");
    fixture.dialogs.saveFileAnswer = local;
    fixture.dialogs.modal = [](QDialog *d) {
        auto *form2 = static_cast<TForm2 *>(d);
        form2->SpeedButton1Click();
        return form2->result();
    };
    RecordSentFrames();
    form.BitBtn10Click();
    WaitIdle(form);
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.lastInitialName, QStringLiteral("O0009.NC"));
    QCOMPARE(ReadFileBytes(local), Bytes(ToGbk(QStringLiteral("%\r\nO0009(中文)\r\nM30\r\n%"))));
}

void TransfersTest::escapeAbortsSaveAs() {
    AppFixture fixture;
    WriteFileBytes(fixture.StoragePath("KEEP.NC"), Bytes(QByteArray("old")));
    TForm1 &form = fixture.Open();
    form.Memo1->setPlainText(QString::fromLatin1(Pattern(1500)));
    form.SelectedFileName = "KEEP.NC";
    QString proposed;
    fixture.dialogs.modal = AnswerPathDialog(TForm2::kResultOk, &proposed);
    SetEscapeHeldOverride([] { return true; });
    RecordSentFrames();
    form.BitBtn10Click();
    WaitIdle(form);
    QCOMPARE(WriteBlocks(), (std::vector<uint32_t>{0, kAbort}));
    // The abort block carries an empty (zero-filled) buffer, none of the text.
    const SentFrame &abortFrame = SentFrames()[1];
    QVERIFY(abortFrame.payload.size() > 4);
    QVERIFY(std::all_of(abortFrame.payload.begin() + 4, abortFrame.payload.end(), [](uint8_t b) { return b == 0; }));
    QVERIFY(HasListingRequest());
    QCOMPARE(form.StatusText(1), TransferAbortedText());
    // The file the aborted save would have replaced is still there.
    QCOMPARE(ReadFileBytes(fixture.StoragePath("KEEP.NC")), Bytes(QByteArray("old")));
}

void TransfersTest::requestsAreRefusedWhileOneRuns() {
    AppFixture fixture;
    WriteFileBytes(fixture.StoragePath("THREE.NC"), Bytes(Pattern(1300)));
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    busyForm = &form;
    busyObservations.clear();
    // Before each block the loop asks about Escape: act as a user clicking
    // around at that moment.
    SetEscapeHeldOverride([] {
        OnWindowThread([] {
            const size_t before = SentFrames().size();
            busyForm->BitBtn7Click();
            busyForm->BitBtn8Click();
            busyForm->BitBtn10Click();
            busyForm->ListView1DblClick();
            // The device, the link and its wait stay as the transfer found them.
            busyObservations.append(QStringLiteral("%1|%2|%3|%4|%5")
                                        .arg(SentFrames().size() - before)
                                        .arg(busyForm->Busy())
                                        .arg(busyForm->Memo1->isReadOnly())
                                        .arg(busyForm->CB3->isEnabled())
                                        .arg(busyForm->NetWait->isEnabled()));
        });
        return false;
    });
    QVERIFY(ClickItem(form, "THREE.NC"));
    RecordSentFrames();
    form.ListView1DblClick();
    WaitIdle(form);
    QCOMPARE(busyObservations, (QStringList{"0|1|1|0|0", "0|1|1|0|0", "0|1|1|0|0"}));
    QCOMPARE(ReadBlocks(), (std::vector<uint32_t>{1, 2, 3}));
    QVERIFY(fixture.dialogs.Texts().count() == 1);  // only the confirmation
    QVERIFY(!form.Busy());
    QVERIFY(form.CB3->isEnabled());
    QVERIFY(form.NetWait->isEnabled());
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    busyForm = nullptr;
}

void TransfersTest::closeDuringTransferAbortsThenCloses() {
    AppFixture fixture;
    WriteFileBytes(fixture.StoragePath("THREE.NC"), Bytes(Pattern(1300)));
    TForm1 &form = fixture.Open();
    form.show();
    form.BitBtn7Click();
    busyForm = &form;
    SetEscapeHeldOverride([] {
        OnWindowThread([] { busyForm->close(); });
        return false;
    });
    QVERIFY(ClickItem(form, "THREE.NC"));
    RecordSentFrames();
    fixture.dialogs.shown.clear();
    form.ListView1DblClick();
    // Asked once, as during a DNC run, naming the transfer; the window goes
    // once the transfer has ended.
    QTRY_VERIFY(!form.isVisible());
    QVERIFY(!form.Busy());
    SetEscapeHeldOverride(nullptr);
    // Block 1 was on its way when the close came; the next one aborts.
    QCOMPARE(ReadBlocks(), (std::vector<uint32_t>{1, kAbort}));
    QCOMPARE(fixture.dialogs.shown.size(), 2);  // the download's confirmation, then the close
    QCOMPARE(fixture.dialogs.shown[1].title, QStringLiteral("Close during a transfer"));
    QVERIFY(fixture.dialogs.shown[1].text.contains(QStringLiteral("The download of \\THREE.NC with device 1")));
    QVERIFY(!EscapeHeld());
    // The transfer ended as Esc ends it, journal line included.
    QFile journal(fixture.JournalFile());
    QVERIFY(journal.open(QIODevice::ReadOnly));
    QVERIFY(journal.readAll().contains("Download stopped at block 2 of 3: 512 of 1300 bytes arrived"));
    busyForm = nullptr;
}

void TransfersTest::closeDuringTransferAnsweredNo() {
    AppFixture fixture;
    WriteFileBytes(fixture.StoragePath("THREE.NC"), Bytes(Pattern(1300)));
    TForm1 &form = fixture.Open();
    form.show();
    busyForm = &form;
    SetEscapeHeldOverride([] {
        OnWindowThread([] { busyForm->close(); });
        return false;
    });
    fixture.dialogs.answer = [](const ShownBox &box) { return box.title != QStringLiteral("Close during a transfer"); };
    RecordSentFrames();
    form.ReadNcFile(form.DeviceId, "\\THREE.NC");
    WaitIdle(form);
    SetEscapeHeldOverride(nullptr);
    // Asked before each block, and each No lets the download go on whole.
    QCOMPARE(fixture.dialogs.shown.size(), 3);
    QCOMPARE(ReadBlocks(), (std::vector<uint32_t>{1, 2, 3}));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCoreApplication::processEvents();
    QVERIFY(form.isVisible());
    busyForm = nullptr;
}

void TransfersTest::longDownloadArrivesWholeAtTheMemosPace() {
    AppFixture fixture;
    // Far more text than the worker hands the window ahead of the memo: the
    // worker waits for the memo, and every piece lands once, in order.
    QByteArray program;
    for (int line = 0; program.size() < 300 * 1024; ++line)
        program += "N" + QByteArray::number(line) + " G01 X" + QByteArray::number(line % 97) + ".5\r\n";
    WriteFileBytes(fixture.StoragePath("LONG.NC"), Bytes(program));
    TForm1 &form = fixture.Open();
    QCOMPARE(Download(form, "\\LONG.NC"), uint8_t(0));
    QCOMPARE(MemoTextToGbk(form.Memo1->toPlainText()), program);
    QVERIFY(!form.MemoIncomplete());
    QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());
}

void TransfersTest::destroyedDuringTransferEndsItsWorker() {
    AppFixture fixture;
    // A slow controller: the download is still on its way when the window goes.
    ncsim::Options options;
    options.delayMs = 20;
    fixture.RestartSimulator(options);
    WriteFileBytes(fixture.StoragePath("LONG.NC"), Bytes(Pattern(100 * 512)));
    TForm1 &form = fixture.Open();
    RecordSentFrames();
    form.ReadNcFile(form.DeviceId, "\\LONG.NC");
    QTRY_VERIFY(form.ProgressBar1->value() >= 512);
    // The window is destroyed without being closed: it stops the worker and
    // waits for it, so nothing of the transfer reaches freed controls.
    fixture.form.reset();
    const std::vector<uint32_t> blocks = ReadBlocks();
    QVERIFY(!blocks.empty());
    QCOMPARE(blocks.back(), kAbort);
    QVERIFY(blocks.size() < 100);
}

void TransfersTest::serialLinkOverPseudoTerminal() {
    AppFixture fixture;
    ncsim::Options options;
    options.root = fixture.StoragePath().toStdString();
    options.delayMs = 20;  // answers arrive while the link waits, idle
    ncsim::Simulator serialController(options);
    QVERIFY2(serialController.StartPty(), serialController.LastError().c_str());
    const QString device = QString::fromStdString(serialController.PtyPath());
    TForm1 &form = fixture.Open(0, {}, device);
    QCOMPARE(form.StatusText(0), device + QStringLiteral(" BaudRate:115200 Data:8"));
    QCOMPARE(core::CurrentEngineSettings().timeout, 600);
    busyForm = &form;
    busyObservations.clear();
    // The window keeps handling events while the serial line is read: a
    // click then is refused, not run inside the running request.
    QTimer::singleShot(0, &form, [] {
        busyForm->BitBtn7Click();
        busyObservations.append(busyForm->StatusText(1));
    });
    form.BitBtn7Click();
    QCOMPARE(busyObservations.size(), 1);
    QVERIFY(busyObservations[0].startsWith(QStringLiteral("Busy")));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(ListCaptions(form), kSampleRoot);
    QCOMPARE(Download(form, "\\O1234.NC"), uint8_t(0));
    QCOMPARE(MemoTextToGbk(form.Memo1->toPlainText()), QByteArray("%\r\nO1234(TEST)\r\nG04 X1.0\r\nM30\r\n%\r\n"));
    busyForm = nullptr;
    form.close();
    serialController.Stop();
}

void TransfersTest::charactersAndLineBreaksAcrossBlocks() {
    AppFixture fixture;
    // A two-byte GBK character cut by the first block boundary, a CR LF pair
    // cut by the second.
    QByteArray content = QByteArray(511, 'A') + "\xd6\xd0" + QByteArray(510, 'B') + "\r\n" + "C\r\n";
    QCOMPARE(content.indexOf("\r\n"), 1023);
    WriteFileBytes(fixture.StoragePath("SPLIT.NC"), Bytes(content));
    TForm1 &form = fixture.Open();
    QCOMPARE(Download(form, "\\SPLIT.NC"), uint8_t(0));
    const QString text = form.Memo1->toPlainText();
    QCOMPARE(text.mid(511, 1), QStringLiteral("中"));
    QCOMPARE(text.count(QChar('\n')), 2);
    QCOMPARE(MemoTextToGbk(text), content);
}

void TransfersTest::linkMessagesStayOutOfTheDownload() {
    AppFixture fixture;
    WriteFileBytes(fixture.StoragePath("TWO.NC"), Bytes(Pattern(700)));
    TForm1 &form = fixture.Open();
    busyForm = &form;
    SetEscapeHeldOverride([] {
        OnWindowThread([] { busyForm->AddLogLine(QStringLiteral("网络数据发送错误:-1")); });
        return false;
    });
    QCOMPARE(Download(form, "\\TWO.NC"), uint8_t(0));
    const QString line = QStringLiteral("网络数据发送错误:-1");
    // The memo holds the program only; the lines are in the message log.
    QCOMPARE(form.Memo1->toPlainText(), QString::fromLatin1(Pattern(700)));
    QCOMPARE(form.MessageLog1->Texts(), (QStringList{line, line}));
    busyForm = nullptr;
}

// A network that delivers some answers twice, the copy up to a few tens of
// milliseconds later: every copy that arrives while the next block waits
// looks like that block's answer. Each download must end with the exact
// program in the memo, or with an error text; never with other text shown
// as a success.
void TransfersTest::repeatedAnswersNeverShiftTheDownload() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    fixture.simulator.reset();
    ncsim::Options options;
    options.root = fixture.StoragePath().toStdString();
    options.duplicateProbability = 0.5;
    options.delayMs = 5;
    options.jitterMs = 40;
    options.verbose = qEnvironmentVariableIsSet("NCSIM_VERBOSE");
    fixture.simulator = std::make_unique<ncsim::Simulator>(options);
    QVERIFY(fixture.simulator->StartUdp("127.0.0.1", 0));
    dnclink::UdpSetDestinationPort(fixture.simulator->UdpPort());

    QFile file(fixture.StoragePath("PRG/O0002.CNC"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray original = file.readAll();
    const QString success = QStringLiteral("Operation Successful");
    int exact = 0;
    for (int round = 0; round < 4; ++round) {
        form.BitBtn7Click();
        if (form.StatusText(1) == success) QCOMPARE(ListCaptions(form), kSampleRoot);
        const uint8_t code = Download(form, "\\PRG\\O0002.CNC");
        if (code == 0) {
            QCOMPARE(MemoTextToGbk(form.Memo1->toPlainText()), original);
            ++exact;
        } else {
            QVERIFY2(form.StatusText(1) != success, qPrintable(form.StatusText(1)));
        }
    }
    QVERIFY(exact > 0);
}

void TransfersTest::ratePanelDuringDownloadAndUpload() {
    AppFixture fixture;
    WriteFileBytes(fixture.StoragePath("THREE.NC"), Bytes(Pattern(1300)));
    const QString local = fixture.WorkPath("UP.NC");
    WriteFileBytes(local, Bytes(Pattern(1300)));
    TForm1 &form = fixture.Open();
    busyForm = &form;
    // Seen before each block: blocks done of all so far.
    SetEscapeHeldOverride([] {
        OnWindowThread(
            [] { busyObservations.append(busyForm->StatusPanel2->text().section(QStringLiteral("  "), 0, 0)); });
        return false;
    });
    busyObservations.clear();
    QCOMPARE(Download(form, "\\THREE.NC"), uint8_t(0));
    QCOMPARE(busyObservations, (QStringList{"Block 0/3", "Block 1/3", "Block 2/3"}));
    QVERIFY(form.StatusPanel2->text().isEmpty());

    busyObservations.clear();
    fixture.dialogs.openFileAnswer = local;
    QString proposed;
    fixture.dialogs.modal = AnswerPathDialog(TForm2::kResultOk, &proposed);
    form.BitBtn4Click();
    WaitIdle(form);
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(busyObservations, (QStringList{"Block 0/3", "Block 1/3", "Block 2/3"}));
    QVERIFY(form.StatusPanel2->text().isEmpty());
    busyForm = nullptr;
}

void TransfersTest::rateText_data() {
    QTest::addColumn<qulonglong>("done");
    QTest::addColumn<qulonglong>("total");
    QTest::addColumn<qlonglong>("elapsedMs");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing moved yet") << 0ull << 1300ull << 0ll << "Block 0/3  -- B/s  --:-- left";
    QTest::newRow("a short last block counts") << 1300ull << 1300ull << 2000ll << "Block 3/3  650 B/s  0:00 left";
    QTest::newRow("kibibytes") << 1024ull << 4096ull << 1000ll << "Block 2/8  1.0 KB/s  0:03 left";
    QTest::newRow("hours") << 512ull << 8ull * 1024 * 1024 << 1000ll << "Block 1/16384  512 B/s  4:33:03 left";
    QTest::newRow("mebibytes") << 3ull * 1024 * 1024 << 4ull * 1024 * 1024 << 2000ll << "Block 6144/8192  1.5 MB/s  0:01 left";
}

void TransfersTest::rateText() {
    QFETCH(qulonglong, done);
    QFETCH(qulonglong, total);
    QFETCH(qlonglong, elapsedMs);
    QFETCH(QString, text);
    QCOMPARE(RateText(done, total, elapsedMs), text);
}

QTEST_MAIN(TransfersTest)
#include "tst_transfers.moc"
