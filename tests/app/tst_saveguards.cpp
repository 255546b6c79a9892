// Writing the memo never destroys by surprise: the controller's system names
// are refused, a file the listing shows is asked about, a text that is not a
// whole program is asked about with No as the default, Ctrl+S goes back
// where the text came from through the same questions, and the pane and the
// title say where that is. Also: "save" to the unsaved-edits question, then
// a cancelled or failed save, keeps the edits and cancels the action.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "app/Unit2.h"
#include "tests/app/app_fixture.h"
#include "app/escape_key.h"
#include "app/gbk_text.h"

namespace {

QByteArray FileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::vector<uint8_t> Bytes(const QByteArray &a) { return std::vector<uint8_t>(a.begin(), a.end()); }

// The path dialog: OK with this path in its field (or the proposed one).
std::function<int(QDialog *)> AcceptPath(const QString &path = {}) {
    return [path](QDialog *dialog) {
        auto *form2 = qobject_cast<TForm2 *>(dialog);
        if (!form2) return 2;
        if (!path.isEmpty()) form2->Edit1->setText(path);
        return int(TForm2::kResultOk);
    };
}

// Ctrl+S as the user presses it, in the active window.
void PressCtrlS(TForm1 &form) {
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(form.Memo1, Qt::Key_S, Qt::ControlModifier);
    WaitIdle(form);
}

// Lists \PRG\ and reads O0001.CNC into the memo, as the user does.
void ReadProgram(TForm1 &form) {
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(ClickItem(form, "O0001.CNC"));
    QCOMPARE(Download(form, "\\PRG\\O0001.CNC"), uint8_t(0));
}

bool AnyWriteSent() {
    for (const SentFrame &f : SentFrames())
        if (f.function == 0x25) return true;
    return false;
}

}  // namespace

class SaveGuardsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void saveAsTargets_data();
    void saveAsTargets();
    void uploadRefusesSystemNames();
    void partialTextAsks_data();
    void partialTextAsks();
    void questionsDefaultToNo();
    void ctrlSWritesBackWhereTheTextCameFrom();
    void ctrlSRefusesAnotherDevice();
    void paneAndTitleNameTheSource();
    void unsavedSaveCancelledOrFailedKeepsTheEdits_data();
    void unsavedSaveCancelledOrFailedKeepsTheEdits();
};

void SaveGuardsTest::cleanup() { SetEscapeHeldOverride(nullptr); }

void SaveGuardsTest::saveAsTargets_data() {
    QTest::addColumn<QString>("target");   // the path typed in the dialog
    QTest::addColumn<QString>("onDisk");   // where the controller keeps it
    QTest::addColumn<QString>("box");      // "" none, "error", "ask"
    QTest::addColumn<bool>("answer");      // to the question
    QTest::addColumn<bool>("written");
    QTest::newRow("system file") << "\\QVT\\QVTROM.BIN" << "QVT/QVTROM.BIN" << "error" << true << false;
    QTest::newRow("system file in another folder") << "\\PRG\\QVTROM.BIN" << "PRG/QVTROM.BIN" << "error" << true
                                                   << false;
    QTest::newRow("a system folder's name") << "\\PRG" << "PRG" << "error" << true << false;
    // The rule is exact, as the Delete menu's.
    QTest::newRow("system name in other case") << "\\PRG\\qvtrom.bin" << "PRG/qvtrom.bin" << "" << true << true;
    QTest::newRow("listed file, No") << "\\PRG\\O0002.CNC" << "PRG/O0002.CNC" << "ask" << false << false;
    QTest::newRow("listed file, Yes") << "\\PRG\\O0002.CNC" << "PRG/O0002.CNC" << "ask" << true << true;
    QTest::newRow("listed file typed in other case") << "\\PRG\\o0002.cnc" << "PRG/o0002.cnc" << "ask" << false
                                                     << false;
    QTest::newRow("new name") << "\\PRG\\O0777.CNC" << "PRG/O0777.CNC" << "" << false << true;
}

void SaveGuardsTest::saveAsTargets() {
    QFETCH(QString, target);
    QFETCH(QString, onDisk);
    QFETCH(QString, box);
    QFETCH(bool, answer);
    QFETCH(bool, written);
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    ReadProgram(form);
    QTest::keyClicks(form.Memo1, "(EDIT)");
    const QByteArray text = MemoTextToGbk(form.Memo1->toPlainText());
    const QByteArray before = FileBytes(fixture.StoragePath(onDisk));
    const qsizetype listedSize = FileBytes(fixture.StoragePath("PRG/O0002.CNC")).size();
    fixture.dialogs.shown.clear();
    fixture.dialogs.modal = AcceptPath(target);
    fixture.dialogs.confirmAnswer = answer;
    RecordSentFrames();
    form.BitBtn10Click();
    WaitIdle(form);

    if (box.isEmpty()) {
        QVERIFY(fixture.dialogs.shown.isEmpty());
    } else {
        QCOMPARE(fixture.dialogs.shown.size(), 1);
        QCOMPARE(fixture.dialogs.shown[0].kind, box);
    }
    if (box == "error") QVERIFY(fixture.dialogs.shown[0].text.startsWith(target + " carries a name of the controller"));
    if (box == "ask") {
        // Device, address, the file as listed and both sizes.
        const QString listed = QStringLiteral("\\PRG\\O0002.CNC");
        const QString expected = QStringLiteral("Device 1 (127.0.0.1:%1) already holds %2 (%3 bytes).\nWrite %4 bytes "
                                                "of this text over it?")
                                     .arg(fixture.simulator->UdpPort())
                                     .arg(listed)
                                     .arg(listedSize)
                                     .arg(text.size());
        QCOMPARE(fixture.dialogs.shown[0].title, QStringLiteral("Overwrite?"));
        QCOMPARE(fixture.dialogs.shown[0].text, expected);
    }
    QCOMPARE(AnyWriteSent(), written);
    QCOMPARE(FileBytes(fixture.StoragePath(onDisk)), written ? text : before);
    // Saved where it was asked to go, the text is that file's now.
    QCOMPARE(form.Memo1->document()->isModified(), !written);
    if (written) QCOMPARE(form.Source().path, target);
}

void SaveGuardsTest::uploadRefusesSystemNames() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    const QString local = fixture.WorkPath("QVTROM.BIN");
    WriteFileBytes(local, {1, 2, 3});
    fixture.dialogs.openFileAnswer = local;
    fixture.dialogs.modal = AcceptPath("\\QVT\\QVTROM.BIN");
    const QByteArray rom = FileBytes(fixture.StoragePath("QVT/QVTROM.BIN"));
    RecordSentFrames();
    form.BitBtn4Click();
    WaitIdle(form);
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("error"));
    QCOMPARE(FileBytes(fixture.StoragePath("QVT/QVTROM.BIN")), rom);
}

void SaveGuardsTest::partialTextAsks_data() {
    QTest::addColumn<bool>("dncView");  // else an aborted download
    QTest::addColumn<bool>("answer");
    QTest::newRow("aborted download, No") << false << false;
    QTest::newRow("aborted download, Yes") << false << true;
    QTest::newRow("DNC view, No") << true << false;
    QTest::newRow("DNC view, Yes") << true << true;
}

void SaveGuardsTest::partialTextAsks() {
    QFETCH(bool, dncView);
    QFETCH(bool, answer);
    AppFixture fixture;
    QByteArray program;
    for (int line = 0; program.size() < 1500; ++line) program += "N" + QByteArray::number(line) + " G01 X1\n";
    WriteFileBytes(fixture.StoragePath("PRG/LONG.NC"), Bytes(program));
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(ClickItem(form, "LONG.NC"));
    if (dncView) {
        WriteFileBytes(fixture.WorkPath("LONG.NC"), Bytes(program));
        fixture.dialogs.openFileAnswer = fixture.WorkPath("LONG.NC");
        form.BitBtn11Click();
        QTRY_VERIFY(!form.DncRunning());
        QCOMPARE(form.Source().kind, MemoSource::kDncView);
    } else {
        static int blocks;
        blocks = 0;
        SetEscapeHeldOverride([] { return ++blocks == 2; });
        Download(form, "\\PRG\\LONG.NC");
        SetEscapeHeldOverride(nullptr);
    }
    QVERIFY(form.MemoIncomplete());
    QVERIFY(!form.MemoState->isHidden());
    const QByteArray pane = MemoTextToGbk(form.Memo1->toPlainText());

    // Save As and Ctrl+S both ask before the listed program is replaced by
    // what the pane holds; the DNC view has no file to go back to, so its
    // Ctrl+S is a Save As.
    for (const bool viaCtrlS : {false, true}) {
        fixture.dialogs.shown.clear();
        fixture.dialogs.modal = AcceptPath("\\PRG\\LONG.NC");
        fixture.dialogs.answer = [answer](const ShownBox &box) {
            return box.title == QStringLiteral("Incomplete program") ? answer : true;
        };
        RecordSentFrames();
        if (viaCtrlS) PressCtrlS(form);
        else { form.BitBtn10Click(); WaitIdle(form); }
        QVERIFY(!fixture.dialogs.shown.isEmpty());
        QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("ask"));
        QCOMPARE(fixture.dialogs.shown[0].title, QStringLiteral("Incomplete program"));
        QVERIFY(fixture.dialogs.shown[0].text.startsWith(dncView ? "DNC view" : "Incomplete"));
        QCOMPARE(AnyWriteSent(), answer);
        QCOMPARE(FileBytes(fixture.StoragePath("PRG/LONG.NC")), answer ? pane : program);
    }
}

void SaveGuardsTest::questionsDefaultToNo() {
    // The program's own question box: Enter, right after it opens, says No.
    AppFixture fixture;
    InstallDialogs(nullptr);
    // Enter goes to the box once it is up.
    QTimer enter;
    QObject::connect(&enter, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            QTest::keyClick(box, Qt::Key_Return);
    });
    enter.start(10);
    const bool yes = AppDialogs().Ask(nullptr, QStringLiteral("Overwrite?"), QStringLiteral("Write over it?"));
    QVERIFY(!yes);
}

void SaveGuardsTest::ctrlSWritesBackWhereTheTextCameFrom() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    ReadProgram(form);
    QTest::keyClicks(form.Memo1, "(A)");
    const QByteArray edited = MemoTextToGbk(form.Memo1->toPlainText());
    // No path dialog: the text goes back to \PRG\O0001.CNC on device 1,
    // after the question the listed file asks.
    fixture.dialogs.modal = [](QDialog *) { return -1; };
    fixture.dialogs.shown.clear();
    RecordSentFrames();
    PressCtrlS(form);
    QCOMPARE(fixture.dialogs.Texts().size(), 1);
    QVERIFY(fixture.dialogs.shown[0].text.contains(QStringLiteral("already holds \\PRG\\O0001.CNC")));
    QCOMPARE(FileBytes(fixture.StoragePath("PRG/O0001.CNC")), edited);
    QVERIFY(!form.Memo1->document()->isModified());

    // Saved locally, the text's place is that file: Ctrl+S writes it there
    // and sends nothing.
    const QString local = fixture.WorkPath("MINE.NC");
    fixture.dialogs.saveFileAnswer = local;
    QVERIFY(form.SaveMemoLocally(&form));
    QCOMPARE(form.Source().kind, MemoSource::kLocal);
    QTest::keyClicks(form.Memo1, "(B)");
    RecordSentFrames();
    fixture.dialogs.shown.clear();
    PressCtrlS(form);
    QVERIFY(SentFrames().empty());
    QVERIFY(fixture.dialogs.shown.isEmpty());
    QCOMPARE(FileBytes(local), MemoTextToGbk(form.Memo1->toPlainText()));
    QCOMPARE(FileBytes(fixture.StoragePath("PRG/O0001.CNC")), edited);
}

void SaveGuardsTest::ctrlSRefusesAnotherDevice() {
    AppFixture fixture;
    TForm1 &form = fixture.Open(1, {{1, "127.0.0.1"}, {2, "127.0.0.1"}});
    ReadProgram(form);
    QTest::keyClicks(form.Memo1, "(A)");
    const QByteArray original = FileBytes(fixture.StoragePath("PRG/O0001.CNC"));
    form.CB3->setEditText("2");
    QCOMPARE(form.DeviceId, uint8_t(2));
    RecordSentFrames();
    fixture.dialogs.shown.clear();
    PressCtrlS(form);
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("error"));
    QVERIFY(fixture.dialogs.shown[0].text.startsWith(QStringLiteral("The text came from device 1")));
    QCOMPARE(FileBytes(fixture.StoragePath("PRG/O0001.CNC")), original);
    QVERIFY(form.Memo1->document()->isModified());
}

void SaveGuardsTest::paneAndTitleNameTheSource() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.show();
    QVERIFY(form.MemoTitle->isHidden());
    QCOMPARE(form.windowTitle(), QStringLiteral("\\"));
    // A text typed into the empty pane comes from nowhere and says so.
    QTest::keyClicks(form.Memo1, "G0");
    QCOMPARE(form.MemoTitle->text(), QStringLiteral("New text, not saved anywhere *"));
    QCOMPARE(form.windowTitle(), QStringLiteral("\\  —  New text, not saved anywhere[*]"));
    QVERIFY(form.isWindowModified());

    ReadProgram(form);  // the typed text is discarded when asked
    QCOMPARE(form.MemoTitle->text(), QStringLiteral("Device 1: \\PRG\\O0001.CNC"));
    QCOMPARE(form.windowTitle(), QStringLiteral("\\PRG\\  —  Device 1: \\PRG\\O0001.CNC[*]"));
    QVERIFY(!form.isWindowModified());
    QTest::keyClicks(form.Memo1, "X");
    QCOMPARE(form.MemoTitle->text(), QStringLiteral("Device 1: \\PRG\\O0001.CNC *"));
    QVERIFY(form.isWindowModified());
    // Going up changes the folder part only.
    form.BitBtn8Click();
    QCOMPARE(form.windowTitle(), QStringLiteral("\\  —  Device 1: \\PRG\\O0001.CNC[*]"));
}

void SaveGuardsTest::unsavedSaveCancelledOrFailedKeepsTheEdits_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("writeFails");  // else the file dialog is cancelled
    for (const char *action : {"download", "dnc", "close"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1, dialog cancelled").arg(action))) << QString(action) << false;
        QTest::newRow(qPrintable(QStringLiteral("%1, write fails").arg(action))) << QString(action) << true;
    }
}

void SaveGuardsTest::unsavedSaveCancelledOrFailedKeepsTheEdits() {
    QFETCH(QString, action);
    QFETCH(bool, writeFails);
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.show();
    ReadProgram(form);
    QTest::keyClicks(form.Memo1, "(EDITS)");
    const QString edited = form.Memo1->toPlainText();
    WriteFileBytes(fixture.WorkPath("P.NC"), {'G', '0'});
    fixture.dialogs.openFileAnswer = fixture.WorkPath("P.NC");
    fixture.dialogs.unsavedAnswer = UnsavedAnswer::Save;
    fixture.dialogs.saveFileAnswer = writeFails ? fixture.WorkPath("no/such/folder/EDITS.NC") : QString();
    fixture.dialogs.shown.clear();
    RecordSentFrames();

    if (action == "download") { form.ListView1DblClick(); WaitIdle(form); }
    else if (action == "dnc") form.BitBtn11Click();
    else form.close();

    QCOMPARE(fixture.dialogs.shown.last().kind, writeFails ? QStringLiteral("error") : QStringLiteral("unsaved"));
    QVERIFY(fixture.dialogs.Texts().filter(QStringLiteral("The text holds edits")).size() == 1);
    // The action did not go on: nothing was asked of the controller, no
    // run started, the window is still there, and the edits are kept.
    QVERIFY(SentFrames().empty());
    QVERIFY(!form.DncRunning());
    QVERIFY(form.isVisible());
    QCOMPARE(form.Memo1->toPlainText(), edited);
    QVERIFY(form.Memo1->document()->isModified());
    QVERIFY(!QFile::exists(fixture.WorkPath("no/such/folder/EDITS.NC")));
}

QTEST_MAIN(SaveGuardsTest)
#include "tst_saveguards.moc"
