// "Restart DNC from..." in the window against the simulated controller:
// the dialog's computed preamble and preview, the stream the controller
// captured when the preamble was edited, the restart point offered after a
// stopped run, and the inputs that send nothing.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "tests/app/app_fixture.h"
#include "app/dnc_worker.h"
#include "journal/journal.h"
#include "app/restart_dialog.h"
#include "journal/sha256.h"

namespace {

// Lines numbered as an editor numbers them; the % line is line 1.
const QByteArray kProgram =
    "%\n"                  // 1
    "O0012 (PLATE)\n"      // 2
    "G21 G90 G17\n"        // 3
    "G54\n"                // 4
    "T01 M06\n"            // 5
    "S2000 M03\n"          // 6
    "M08\n"                // 7
    "G00 X0 Y0\n"          // 8
    "G01 Z-1. F300.\n"     // 9
    "X40.\n"               // 10
    "T02 M06\n"            // 11
    "S1500 M03\n"          // 12
    "G00 X10.\n"           // 13
    "G91\n"                // 14
    "#1=5\n"               // 15
    "G01 X30.\n"           // 16
    "M30\n"                // 17
    "%\n";                 // 18

QByteArray WithCrLf(QByteArray text) { return text.replace("\n", "\r\n"); }

// Where line `line` (1-based) starts.
qsizetype OffsetOfLine(const QByteArray &program, int line) {
    qsizetype offset = 0;
    for (int n = 1; n < line; ++n) offset = program.indexOf('\n', offset) + 1;
    return offset;
}

QByteArray Lines(const QStringList &lines, const QByteArray &ending) {
    QByteArray text;
    for (const QString &line : lines) text += line.toLatin1() + ending;
    return text;
}

std::string Sha256Of(const QByteArray &bytes) {
    journal::Sha256 hash;
    hash.Update(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    return hash.HexDigest();
}

void OnWindow(TForm1 &form, const std::function<void()> &action) {
    QMetaObject::invokeMethod(&form, action, Qt::BlockingQueuedConnection);
}

struct RestartFixture : AppFixture {
    RestartFixture() {
        ncsim::Options options;
        options.captureFile = WorkPath("capture.bin").toStdString();
        RestartSimulator(options);
    }
    QString WriteProgram(const QByteArray &content) {
        const QString path = WorkPath("PLATE.NC");
        WriteFileBytes(path, std::vector<uint8_t>(content.begin(), content.end()));
        dialogs.openFileAnswer = path;
        return path;
    }
    QByteArray Captured() {
        const std::vector<uint8_t> bytes = ReadFileBytes(WorkPath("capture.bin"));
        return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    }
    // The restart dialog comes up and `act` works it as the operator; its
    // result is what the dialog's own buttons left.
    void WhenAsked(std::function<void(RestartDialog &)> act) {
        dialogs.modal = [this, act](QDialog *dialog) {
            auto *restart = qobject_cast<RestartDialog *>(dialog);
            if (restart == nullptr) return int(QDialog::Rejected);
            ++opened;
            act(*restart);
            return restart->result();
        };
    }
    int opened = 0;
};

bool WaitForEnd(TForm1 &form) {
    return QTest::qWaitFor([&] { return !form.DncRunning(); });
}

QStringList PreambleLines(const RestartDialog &d) {
    QStringList lines = d.Preamble->toPlainText().split('\n');
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

}  // namespace

class RestartTest : public QObject {
    Q_OBJECT
private slots:
    void dialogShowsPlan_data();
    void dialogShowsPlan();
    void sentAsShown_data();
    void sentAsShown();
    void offeredAfterAStoppedRun();
    void refusalsSendNothing_data();
    void refusalsSendNothing();
    void notATextFile();
};

void RestartTest::dialogShowsPlan_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("line");  // the restart line it comes to
    QTest::addColumn<QStringList>("preamble");
    QTest::addColumn<QStringList>("warnings");
    // Tool 2 and its spindle from lines 11-12, the modes of lines 3-4, the
    // coolant of line 7 and the G01 and feed of line 9.
    QTest::newRow("line 13") << int(RestartDialog::kFromLine) << 13 << 13
                             << QStringList{"T02 M06", "G21 G17 G90 G54", "S1500 M03", "M08", "G01 F300."}
                             << QStringList{};
    // The restart line changes the tool itself: the preamble leaves the
    // tool, spindle and coolant to it.
    QTest::newRow("tool change 2") << int(RestartDialog::kFromToolChange) << 2 << 11
                                   << QStringList{"G21 G17 G90 G54", "G01 F300."}
                                   << QStringList{"note: line 11 changes the tool: the preamble leaves the tool, "
                                                  "spindle and coolant to it"};
    // G91 on line 14 and G00 on line 13 are taken; the macro line on 15 is
    // listed, not passed over.
    QTest::newRow("line 16, past a macro") << int(RestartDialog::kFromLine) << 16 << 16
                                           << QStringList{"T02 M06", "G21 G17 G91 G54", "S1500 M03", "M08",
                                                          "G00 F300."}
                                           << QStringList{"line 15 (#1=5): "};
}

void RestartTest::dialogShowsPlan() {
    QFETCH(int, from);
    QFETCH(int, number);
    QFETCH(int, line);
    QFETCH(QStringList, preamble);
    QFETCH(QStringList, warnings);
    RestartFixture fixture;
    TForm1 &form = fixture.Open();
    fixture.WriteProgram(kProgram);
    RecordSentFrames();
    QStringList tools, shownPreamble, preview, shownWarnings;
    QString title;
    fixture.WhenAsked([&](RestartDialog &d) {
        for (int i = 0; i < d.ToolChanges->count(); ++i) tools << d.ToolChanges->item(i)->text();
        d.ChoosePoint(from, number);
        shownPreamble = PreambleLines(d);
        preview = d.Preview->toPlainText().split('\n');
        title = d.PreviewTitle->text();
        shownWarnings = d.Warnings->toPlainText().split('\n', Qt::SkipEmptyParts);
        d.reject();
    });
    form.RestartDncClick();
    QCOMPARE(fixture.opened, 1);
    QCOMPARE(tools, (QStringList{"1. line 5, T01:  T01 M06", "2. line 11, T02:  T02 M06"}));
    QCOMPARE(shownPreamble, preamble);
    QCOMPARE(shownWarnings.size(), warnings.size());
    for (int i = 0; i < warnings.size(); ++i)
        QVERIFY2(shownWarnings[i].startsWith(warnings[i]), qPrintable(shownWarnings[i]));
    // The preview: the opening, the preamble, then the program's lines from
    // the restart line on (at most ten of them).
    QStringList expected{"%", "O0012 (PLATE)"};
    expected += preamble;
    const QStringList program = QString::fromLatin1(kProgram).split('\n');
    expected += program.mid(line - 1, std::min(10, 18 - line + 1));
    expected << "";
    QCOMPARE(preview, expected);
    QVERIFY2(title.contains("lines end in LF") && title.contains("the first '%' goes as CR"), qPrintable(title));
    // Cancelled: nothing went to the controller, and the window is free.
    QVERIFY(SentFrames().empty());
    QVERIFY(!form.DncRunning());
    QVERIFY(form.RestartDncButton->isEnabled());
}

void RestartTest::sentAsShown_data() {
    QTest::addColumn<QByteArray>("ending");
    QTest::addColumn<QString>("edited");       // the preamble box as the operator left it
    QTest::addColumn<QStringList>("sent");     // its lines as they go
    QTest::addColumn<bool>("asked");           // the empty-preamble question
    const QString edited = "G00 Z50. (RETRACT)\nT02 M06\nG21 G90 G54\nS1500 M03\nG00 X10. Y0\n\n";
    const QStringList lines{"G00 Z50. (RETRACT)", "T02 M06", "G21 G90 G54", "S1500 M03", "G00 X10. Y0"};
    QTest::newRow("edited, LF") << QByteArray("\n") << edited << lines << false;
    QTest::newRow("edited, CR LF") << QByteArray("\r\n") << edited << lines << false;
    // Emptied although T02 is in use: asked, and sent without one on Yes.
    QTest::newRow("emptied, confirmed") << QByteArray("\r\n") << QString() << QStringList{} << true;
}

void RestartTest::sentAsShown() {
    QFETCH(QByteArray, ending);
    QFETCH(QString, edited);
    QFETCH(QStringList, sent);
    QFETCH(bool, asked);
    const QByteArray program = ending == "\n" ? kProgram : WithCrLf(kProgram);
    RestartFixture fixture;
    TForm1 &form = fixture.Open();
    const QString path = fixture.WriteProgram(program);
    QString preview;
    fixture.WhenAsked([&](RestartDialog &d) {
        d.ChoosePoint(RestartDialog::kFromLine, 13);
        d.Preamble->setPlainText(edited);
        preview = d.Preview->toPlainText();
        d.StartButton->click();
    });
    form.RestartDncClick();
    QVERIFY(form.DncRunning());
    QVERIFY(!form.RestartDncButton->isEnabled());
    QVERIFY(!form.BitBtn11->isEnabled());
    QVERIFY(WaitForEnd(form));

    QByteArray stream = "%" + ending + "O0012 (PLATE)" + ending + Lines(sent, ending) +
                        program.mid(OffsetOfLine(program, 13));
    // The preview showed the stream's lines that were sent.
    QVERIFY2(QString::fromLatin1(stream).remove('\r').startsWith(preview), qPrintable(preview));
    QByteArray taken = stream;
    taken[0] = '\r';
    QCOMPARE(fixture.Captured(), taken);
    QCOMPARE(fixture.dialogs.shown.size(), asked ? 1 : 0);
    if (asked) QVERIFY(fixture.dialogs.shown[0].text.contains("T02 is in use"));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    // Progress counted the restart stream, not the file.
    QCOMPARE(form.ProgressBar1->maximum(), int(stream.size()));
    QCOMPARE(form.ProgressBar1->value(), int(stream.size()));
    QVERIFY(form.RestartDncButton->isEnabled());
    QVERIFY(form.BitBtn11->isEnabled());
    // The journal line names the stream as dncctl's does: its bytes and
    // hash, the restart line and the preamble's hash.
    std::string error;
    const auto entries = journal::ReadAll(fixture.JournalFile().toStdString(), &error);
    QCOMPARE(entries.size(), size_t(1));
    QCOMPARE(QString::fromStdString(entries[0].localFile), path);
    QCOMPARE(entries[0].bytes, std::to_string(stream.size()));
    QCOMPARE(entries[0].sha256, Sha256Of(stream));
    QCOMPARE(entries[0].result, "Operation Successful (restart from line 13, preamble sha256 " +
                                    Sha256Of(Lines(sent, ending)) + ")");
}

void RestartTest::offeredAfterAStoppedRun() {
    RestartFixture fixture;
    TForm1 &form = fixture.Open();
    // Three tool changes over about 3 KiB.
    QByteArray program = "%\nO0077\nG21 G90\n";
    for (int tool = 1; tool <= 3; ++tool) {
        program += "T0" + QByteArray::number(tool) + " M06\nS1000 M03\n";
        for (int n = 0; n < 50; ++n) program += "G01 X" + QByteArray::number(n) + ". Y1. F200.\n";
    }
    program += "M30\n%\n";
    fixture.WriteProgram(program);
    auto lineOf = [&](qsizetype byte) { return int(program.left(byte).count('\n')) + 1; };
    auto toolChangeBefore = [&](int line) {
        int count = 0, at = 0;
        for (int n = 1; n <= line; ++n) {
            const qsizetype start = OffsetOfLine(program, n);
            if (program.mid(start, program.indexOf('\n', start) - start).endsWith("M06")) ++count, at = n;
        }
        return std::pair{count, at};
    };

    // A whole run, stopped while block 3 is on its way: the controller took
    // 1536 bytes.
    RecordSentFrames();
    SetFrameObserver([&](const SentFrame &f) {
        if (f.function == 0x25 && f.number == 3) OnWindow(form, [&] { form.BitBtn12Click(); });
    });
    form.BitBtn11Click();
    QVERIFY(WaitForEnd(form));
    SetFrameObserver(nullptr);
    const int stopLine = lineOf(1536);
    const auto [tool, toolLine] = toolChangeBefore(stopLine);
    QVERIFY(tool >= 2);  // the fixture stops past the second tool change

    QString offer, lineButton, toolButton, number;
    int from = -1;
    fixture.WhenAsked([&](RestartDialog &d) {
        offer = d.StopOffer->isHidden() ? QString() : d.StopOffer->text();
        lineButton = d.StoppedLine->text();
        toolButton = d.StoppedToolChange->text();
        // The tool change before the stop comes first.
        from = d.From->currentIndex();
        number = d.Number->text();
        d.StoppedLine->click();
        d.StartButton->click();
    });
    // The restart run is stopped in its turn while its block 2 is on its
    // way: the controller takes that block, the next goes as the abort.
    SetFrameObserver([&](const SentFrame &f) {
        if (f.function == 0x25 && f.number == 2) OnWindow(form, [&] { form.BitBtn12Click(); });
    });
    form.RestartDncClick();
    QVERIFY(WaitForEnd(form));
    SetFrameObserver(nullptr);
    QVERIFY2(offer.contains(QStringLiteral("stopped on line %1").arg(stopLine)), qPrintable(offer));
    QCOMPARE(lineButton, QStringLiteral("From line %1").arg(stopLine));
    QCOMPARE(toolButton, QStringLiteral("From tool change %1 (line %2)").arg(tool).arg(toolLine));
    QCOMPARE(from, int(RestartDialog::kFromToolChange));
    QCOMPARE(number, QString::number(tool));

    // The stop note names the program's line, not the stream's.
    const QByteArray captured = fixture.Captured();
    QCOMPARE(captured.size(), 1024);
    // The program's bytes start in the stream after the opening and the
    // preamble.
    const qsizetype restartOffset = OffsetOfLine(program, stopLine);
    const qsizetype resumeOffset = restartOffset + (1024 - captured.indexOf(program.mid(restartOffset, 20)));
    const int restartStop = lineOf(resumeOffset);
    QCOMPARE(form.StatusPanel2->text(), QStringLiteral("DNC run stopped at block 3 of %1, program line %2 (byte %3)")
                                            .arg((form.ProgressBar1->maximum() + 511) / 512)
                                            .arg(restartStop)
                                            .arg(resumeOffset));

    // Asked again, the dialog offers where the restart stopped.
    fixture.WhenAsked([&](RestartDialog &d) {
        lineButton = d.StoppedLine->isHidden() ? QString() : d.StoppedLine->text();
        d.reject();
    });
    form.RestartDncClick();
    QCOMPARE(lineButton, QStringLiteral("From line %1").arg(restartStop));

    // Once the file has changed, the old stop means nothing in it.
    fixture.WriteProgram(program + "(CHANGED)\n");
    lineButton = "unset";
    form.RestartDncClick();
    QCOMPARE(lineButton, QString());
}

void RestartTest::refusalsSendNothing_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("preamble");  // "-": as computed
    QTest::addColumn<bool>("startEnabled");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("asked");     // the question's start, or ""
    QTest::newRow("line past the end") << int(RestartDialog::kFromLine) << "19" << "-" << false
                                       << "line 19 is past the program's end (it has 18 lines)" << "";
    QTest::newRow("line 0") << int(RestartDialog::kFromLine) << "0" << "-" << false << "lines are numbered from 1"
                            << "";
    QTest::newRow("no such tool change") << int(RestartDialog::kFromToolChange) << "3" << "-" << false
                                         << "the program has no tool change 3 (it has 2, lines with M06)" << "";
    QTest::newRow("no such block") << int(RestartDialog::kFromBlock) << "40" << "-" << false
                                   << "the program has no block N40" << "";
    QTest::newRow("not a number") << int(RestartDialog::kFromLine) << "1x" << "-" << false
                                  << "Type the number of a line." << "";
    QTest::newRow("percent in the preamble") << int(RestartDialog::kFromLine) << "13" << "T02 M06\n%\n" << false
                                             << "preamble line 2: a '%' there would end the program on the "
                                                "controller"
                                             << "";
    // Start stays on: it asks, and No keeps the dialog open.
    QTest::newRow("empty preamble, tool in use") << int(RestartDialog::kFromLine) << "13" << " \n" << true
                                                 << "the preamble is empty, but T02 is in use from the tool change "
                                                    "on line 11; the rest of the program expects it. Start asks "
                                                    "before sending it without a preamble."
                                                 << "the preamble is empty, but T02 is in use";
}

void RestartTest::refusalsSendNothing() {
    QFETCH(int, from);
    QFETCH(QString, number);
    QFETCH(QString, preamble);
    QFETCH(bool, startEnabled);
    QFETCH(QString, message);
    QFETCH(QString, asked);
    RestartFixture fixture;
    TForm1 &form = fixture.Open();
    fixture.WriteProgram(kProgram);
    RecordSentFrames();
    fixture.dialogs.confirmAnswer = false;
    bool enabled = false;
    QString shown;
    fixture.WhenAsked([&](RestartDialog &d) {
        d.From->setCurrentIndex(from);
        d.Number->setText(number);
        if (preamble != "-") d.Preamble->setPlainText(preamble);
        enabled = d.StartButton->isEnabled();
        shown = d.Message->text();
        // Also accepted past the button, the dialog stays open.
        d.accept();
    });
    form.RestartDncClick();
    QCOMPARE(fixture.opened, 1);
    QCOMPARE(enabled, startEnabled);
    QCOMPARE(shown, message);
    QCOMPARE(fixture.dialogs.shown.size(), asked.isEmpty() ? 0 : 1);
    if (!asked.isEmpty()) {
        QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("ask"));
        QVERIFY(fixture.dialogs.shown[0].text.startsWith(asked));
    }
    QVERIFY(!form.DncRunning());
    QVERIFY(SentFrames().empty());
    QVERIFY(fixture.Captured().isEmpty());
}

void RestartTest::notATextFile() {
    RestartFixture fixture;
    TForm1 &form = fixture.Open();
    fixture.WriteProgram(QByteArray("%\nO0001\nG01 X1.\n\x00\x01\x02 binary\n", 27));
    RecordSentFrames();
    form.RestartDncClick();
    // Said before any dialog opens, and nothing asked of the controller.
    QCOMPARE(fixture.opened, 0);
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("error"));
    QVERIFY2(fixture.dialogs.shown[0].text.contains("it is not a text program") &&
                 fixture.dialogs.shown[0].text.endsWith("Nothing was sent."),
             qPrintable(fixture.dialogs.shown[0].text));
    QVERIFY(SentFrames().empty());
    QVERIFY(!form.DncRunning());
    QVERIFY(form.RestartDncButton->isEnabled());
}

QTEST_MAIN(RestartTest)
#include "tst_restart.moc"
