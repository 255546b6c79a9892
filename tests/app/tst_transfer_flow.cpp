// The transfer flow without a window: a recording view, the in-process
// simulated controller on loopback, and what the flow shows, journals and
// leaves on the controller for a download, an upload with its read-back, a
// save-as, failures and aborts.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <optional>

#include "app/transfer_flow.h"
#include "nccmd/result_texts.h"
#include "nccmd/session.h"
#include "ncsim/simulator.h"

namespace {

QByteArray Pattern(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) bytes[i] = char('A' + i % 23);
    return bytes;
}

QByteArray ReadAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

std::string Sha256(const QByteArray &bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

QString ResultText(uint8_t code) { return QString::fromStdString(nccmd::ResultCodeText(code)); }

// Records what the flow asks of the window, in order.
class RecordingView final : public TransferView {
public:
    QStringList calls;  // one word per call, with its argument where it matters
    QString text;       // the download's text as the pane would hold it
    QString status;
    QStringList log;
    QString endNote;
    std::optional<TransferJournalLine> journal;
    int journalLines = 0;
    bool whole = false;
    // Progress calls seen; the abort test fires once this many came.
    int progressCalls = 0;
    int abortAfterProgress = -1;
    // Run when the second pass of blocks (the read-back) starts.
    std::function<void()> onReadBack;
    int starts = 0;

    void TransferStarting() override {
        calls << "starting";
        if (++starts == 2 && onReadBack) onReadBack();
    }
    void Progress(uint64_t, uint64_t) override { ++progressCalls; }
    void ProgressFull() override { calls << "full"; }
    void ProgressEnded() override {}
    void ShowStatus(const QString &t) override { status = t; }
    void ShowResultCode(uint8_t code) override {
        calls << QStringLiteral("code %1").arg(code);
        status = ResultText(code);
    }
    void ShowEndNote(const QString &note) override { endNote = note; }
    void AddLogLine(const QString &line) override { log << line; }
    void ShowFileError() override { calls << "file error"; }
    void DownloadStarting(const QString &) override { text.clear(); }
    void DownloadText(const QString &t) override { text += t; }
    void DownloadEnded(const QString &, bool w) override {
        calls << "download ended";
        whole = w;
    }
    uint8_t RefreshListing() override {
        calls << "listing";
        return 0;
    }
    void Journal(const TransferJournalLine &line) override {
        calls << "journal";
        journal = line;
        ++journalLines;
    }
    bool AbortRequested() override { return abortAfterProgress >= 0 && progressCalls >= abortAfterProgress; }
};

// A controller serving a fresh copy of the sample tree, and the one
// connection of the process wired to it.
struct Controller {
    Controller() {
        ncsim::Options options;
        options.root = storage.path().toStdString();
        Start(options);
    }
    void Start(ncsim::Options options) {
        options.root = storage.path().toStdString();
        if (simulator) simulator->Stop();
        if (!ncsim::WriteSampleTree(options.root)) qFatal("no sample tree");
        simulator = std::make_unique<ncsim::Simulator>(options);
        if (!simulator->StartUdp("127.0.0.1", 0)) qFatal("simulator: %s", simulator->LastError().c_str());
        nccmd::SessionConfig config;
        config.link = nccmd::LinkType::kUdp;
        config.deviceId = 1;
        config.udp.address = "127.0.0.1";
        config.udp.port = simulator->UdpPort();
        const std::string error = session.Open(config);
        if (!error.empty()) qFatal("session: %s", error.c_str());
    }
    QString Stored(const QString &relative) const { return storage.filePath(relative); }

    QTemporaryDir storage;
    QTemporaryDir local;
    std::unique_ptr<ncsim::Simulator> simulator;
    nccmd::Session session;
};

TransferTarget Device1(bool verify = false) { return {1, verify}; }

}  // namespace

class TransferFlowTest : public QObject {
    Q_OBJECT
private slots:
    void downloadFillsTheTextAndJournalsTheData();
    void uploadWithVerifyReadsBackBeforeTheListing();
    void verifySeesAFileChangedSinceTheUpload();
    void saveAsStoresTheTextAsGiven();
    void failuresAreNeverReportedWhole();
    void abortEndsEachTransferPartWay_data();
    void abortEndsEachTransferPartWay();
};

void TransferFlowTest::downloadFillsTheTextAndJournalsTheData() {
    Controller controller;
    const QByteArray original = ReadAll(controller.Stored("PRG/O0002.CNC"));
    QVERIFY(original.size() > 1024);
    RecordingView view;
    const TransferOutcome outcome = TransferFlow(view, Device1()).Download("\\PRG\\O0002.CNC");
    QVERIFY(outcome.whole);
    QVERIFY(view.whole);
    // The pane shows lines split at '\n'; the sample is ASCII with CR LF.
    QCOMPARE(view.text.toLatin1(), QByteArray(original).replace("\r\n", "\n"));
    QCOMPARE(view.status, ResultText(0));
    QVERIFY(view.endNote.isEmpty());
    QCOMPARE(view.calls, (QStringList{"starting", "download ended", "full", "code 0", "journal"}));
    QCOMPARE(view.journal->operation, "get");
    QCOMPARE(view.journal->remotePath, QStringLiteral("\\PRG\\O0002.CNC"));
    QVERIFY(view.journal->localFile.isEmpty());
    QCOMPARE(view.journal->bytes, uint64_t(original.size()));
    QCOMPARE(view.journal->sha256, Sha256(original));
    QCOMPARE(view.journal->result, ResultText(0));
}

void TransferFlowTest::uploadWithVerifyReadsBackBeforeTheListing() {
    Controller controller;
    const QByteArray content = Pattern(1300);
    const QString local = controller.local.filePath("UP.NC");
    WriteAll(local, content);
    RecordingView view;
    const TransferOutcome outcome = TransferFlow(view, Device1(true)).Upload(local, "\\PRG\\UP.NC");
    QVERIFY(outcome.whole);
    QVERIFY(outcome.verifyError.isEmpty());
    QCOMPARE(ReadAll(controller.Stored("PRG/UP.NC")), content);
    // The read-back is a second pass of blocks, and the listing comes after it.
    QCOMPARE(view.calls, (QStringList{"starting", "full", "starting", "listing", "code 0", "journal"}));
    QCOMPARE(view.log, QStringList{QStringLiteral("Verified \\PRG\\UP.NC: 1300 bytes read back match")});
    QCOMPARE(view.journal->operation, "put");
    QCOMPARE(view.journal->localFile, QFileInfo(local).absoluteFilePath());
    QCOMPARE(view.journal->bytes, uint64_t(content.size()));
    QCOMPARE(view.journal->sha256, Sha256(content));
    QCOMPARE(view.journal->result, ResultText(0));
}

void TransferFlowTest::verifySeesAFileChangedSinceTheUpload() {
    Controller controller;
    const QByteArray content = Pattern(1300);
    const QString local = controller.local.filePath("UP.NC");
    WriteAll(local, content);
    RecordingView view;
    // Someone edits the local file while it is on its way: the read-back
    // compares the controller's copy with the file as it is now.
    view.onReadBack = [&] {
        QByteArray changed = content;
        changed[700] = '#';
        WriteAll(local, changed);
    };
    const TransferOutcome outcome = TransferFlow(view, Device1(true)).Upload(local, "\\PRG\\UP.NC");
    QVERIFY(!outcome.whole);
    const QString expected = VerifyFailedText("\\PRG\\UP.NC", 700);
    QCOMPARE(outcome.verifyError, expected);
    QCOMPARE(view.status, expected);
    QVERIFY(view.log.contains(expected));
    // The journal says what the user saw, not "Operation Successful".
    QCOMPARE(view.journal->result, expected);
    QCOMPARE(view.journal->sha256, Sha256(content));
}

void TransferFlowTest::saveAsStoresTheTextAsGiven() {
    Controller controller;
    // GBK bytes with CR LF, as the pane's text goes out; the size crosses a
    // block boundary.
    QByteArray text = QByteArray("%\r\nO0100(\xD6\xF7\xB3\xCC\xD0\xF2)\r\n") + Pattern(600) + "\r\nM30\r\n%\r\n";
    RecordingView view;
    const TransferOutcome outcome = TransferFlow(view, Device1()).SaveAs("\\PRG\\O0100.CNC", text);
    QVERIFY(outcome.whole);
    QCOMPARE(ReadAll(controller.Stored("PRG/O0100.CNC")), text);
    // Without verify: one pass of blocks, then the listing.
    QCOMPARE(view.calls, (QStringList{"starting", "full", "listing", "code 0", "journal"}));
    QVERIFY(view.log.isEmpty());
    QCOMPARE(view.journal->operation, "save-as");
    QVERIFY(view.journal->localFile.isEmpty());
    QCOMPARE(view.journal->bytes, uint64_t(text.size()));
    QCOMPARE(view.journal->sha256, Sha256(text));
}

void TransferFlowTest::failuresAreNeverReportedWhole() {
    Controller controller;
    ncsim::Options options;
    options.refuseRead = "\\PRG\\O0002.CNC";
    controller.Start(options);

    // The controller refuses the read: its code is the status and the
    // journal's result, and the pane's text is marked as not whole.
    RecordingView refused;
    refused.text = "old";
    const TransferOutcome download = TransferFlow(refused, Device1()).Download("\\PRG\\O0002.CNC");
    QVERIFY(!download.whole);
    QCOMPARE(download.transfer.code, uint8_t(0x04));
    QVERIFY(!refused.whole);
    QVERIFY(refused.text.isEmpty());
    QVERIFY(!refused.calls.contains("full"));
    QCOMPARE(refused.status, ResultText(0x04));
    QCOMPARE(refused.journal->result, ResultText(0x04));
    QCOMPARE(refused.journal->bytes, uint64_t(0));

    // A local name that is no regular file: the box, nothing sent and
    // nothing journalled.
    const uint64_t framesBefore = controller.simulator->CurrentStats().framesReceived;
    RecordingView missing;
    const TransferOutcome upload =
        TransferFlow(missing, Device1(true)).Upload(controller.local.path(), "\\PRG\\DIR.NC");
    QVERIFY(!upload.whole);
    QVERIFY(missing.calls.contains("file error"));
    QCOMPARE(missing.journalLines, 0);
    QCOMPARE(controller.simulator->CurrentStats().framesReceived, framesBefore);

    // The read-back of a file the controller will not read fails the
    // upload, though its blocks all went out.
    const QString local = controller.local.filePath("O0002.CNC");
    WriteAll(local, Pattern(900));
    RecordingView unreadable;
    const TransferOutcome verified = TransferFlow(unreadable, Device1(true)).Upload(local, "\\PRG\\O0002.CNC");
    QCOMPARE(verified.transfer.code, uint8_t(0));
    QVERIFY(!verified.whole);
    QCOMPARE(verified.verifyError, QStringLiteral("Verify failed: %1").arg(ResultText(0x04)));
    QCOMPARE(unreadable.journal->result, verified.verifyError);
}

void TransferFlowTest::abortEndsEachTransferPartWay_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("note");
    // 1500 bytes are three blocks; the abort fires after the opening
    // exchange and block 1 (two progress calls).
    QTest::newRow("download") << "download" << "Download stopped at block 2 of 3: 512 of 1500 bytes arrived";
    QTest::newRow("upload") << "upload" << "Upload stopped at block 2 of 3: 512 of 1500 bytes sent";
    QTest::newRow("save-as") << "save-as" << "Save As stopped at block 2 of 3: 512 of 1500 bytes sent";
}

void TransferFlowTest::abortEndsEachTransferPartWay() {
    QFETCH(QString, operation);
    QFETCH(QString, note);
    Controller controller;
    const QByteArray content = Pattern(1500);
    WriteAll(controller.Stored("PRG/BIG.NC"), content);
    const QString local = controller.local.filePath("BIG.NC");
    WriteAll(local, content);
    RecordingView view;
    view.abortAfterProgress = 2;
    // Verify on: an aborted write is never read back.
    TransferFlow flow(view, Device1(true));
    const TransferOutcome outcome = operation == "download" ? flow.Download("\\PRG\\BIG.NC")
                                    : operation == "upload" ? flow.Upload(local, "\\PRG\\COPY.NC")
                                                            : flow.SaveAs("\\PRG\\COPY.NC", content);
    QVERIFY(outcome.transfer.aborted);
    QVERIFY(!outcome.whole);
    QCOMPARE(outcome.transfer.bytesDone, uint64_t(512));
    QCOMPARE(view.status, TransferAbortedText());
    QCOMPARE(view.endNote, note);
    QVERIFY(!view.calls.contains("full"));
    QCOMPARE(view.calls.count("starting"), 1);
    QCOMPARE(view.journal->result, TransferAbortedText() + "; " + note);
    if (operation == "download") {
        QCOMPARE(view.text.toLatin1(), content.left(512));
        QVERIFY(!view.whole);
    } else {
        // The listing is read again after an aborted write too.
        QVERIFY(view.calls.contains("listing"));
    }
    if (operation == "save-as") {
        // Nothing of the text past the abort: the journal counts what went
        // out in data blocks.
        QCOMPARE(view.journal->bytes, uint64_t(512));
        QCOMPARE(view.journal->sha256, Sha256(content.left(512)));
    }
}

QTEST_GUILESS_MAIN(TransferFlowTest)
#include "tst_transfer_flow.moc"
