// Deleting files and directories and creating directories from the popup
// menu: what is asked, what is refused, the command texts the controller
// gets, and the listing afterwards.
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include "app/Unit2.h"
#include "tests/app/app_fixture.h"

namespace {

// The text requests sent, in order; the block requests of a listing carry no
// text, and the engine's repeated tries of one request count once.
std::vector<std::string> SentTexts() {
    std::vector<std::string> texts;
    for (const SentFrame &f : SentFrames()) {
        const std::string text = f.TextFrom(4);
        if (!text.empty() && (texts.empty() || texts.back() != text)) texts.push_back(text);
    }
    return texts;
}

// Enters each directory of `path` ("PRG/SUB") from the root.
bool EnterPath(TForm1 &form, const QString &path) {
    form.BitBtn7Click();
    for (const QString &level : path.split(QChar('/'), Qt::SkipEmptyParts)) {
        if (!ClickItem(form, level)) return false;
        form.ListView1DblClick();
        WaitIdle(form);
    }
    return true;
}

void MakeTree(const AppFixture &fixture) {
    QDir storage(fixture.StoragePath());
    QVERIFY(storage.mkpath("PRG/SUB/PRG"));
    QVERIFY(storage.mkpath("PRG/SUB/QVT"));
    QVERIFY(storage.mkpath("PRG/prg"));
    QVERIFY(storage.mkpath("PRG/PRG2"));
    QVERIFY(storage.mkpath("PRG/OLD"));
    WriteFileBytes(fixture.StoragePath("PRG/SUB/QVTROM.BIN"), {1, 2, 3});
    WriteFileBytes(fixture.StoragePath("PRG/qvtrom.bin"), {1, 2, 3});
}

}  // namespace

class ManagementTest : public QObject {
    Q_OBJECT
private slots:
    void deletes_data();
    void deletes();
    void wrongItemKindsDoNothing();
    void createDirectory_data();
    void createDirectory();
    void cancelsSendNothing_data();
    void cancelsSendNothing();
    void failedCommandShowsItsCodeWithoutRefresh();
};

void ManagementTest::deletes_data() {
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("refusal");  // empty: the command is sent
    QTest::addColumn<QString>("command");
    const QString fileRefusal = QStringLiteral("该文件为系统文件不能删除!!!");
    const QString dirRefusal = QStringLiteral("NC SYSTEM DIR Cannot Delete!!!");
    QTest::newRow("system file") << "QVT" << "QVTROM.BIN" << true << fileRefusal << "";
    QTest::newRow("system file, question cancelled") << "QVT" << "QVTROM.BIN" << false << fileRefusal << "";
    QTest::newRow("system file name at depth") << "PRG/SUB" << "QVTROM.BIN" << true << fileRefusal << "";
    QTest::newRow("file name in other case") << "PRG" << "qvtrom.bin" << true << ""
                                             << "%DeleteFile%\\PRG\\qvtrom.bin";
    QTest::newRow("PRG at the root") << "" << "PRG" << true << dirRefusal << "";
    QTest::newRow("QVT at the root, question cancelled") << "" << "QVT" << false << dirRefusal << "";
    QTest::newRow("PRG at depth") << "PRG/SUB" << "PRG" << true << dirRefusal << "";
    QTest::newRow("QVT at depth") << "PRG/SUB" << "QVT" << true << dirRefusal << "";
    QTest::newRow("prg in other case") << "PRG" << "prg" << true << "" << "%DeleteDir%\\PRG\\prg";
    QTest::newRow("PRG2") << "PRG" << "PRG2" << true << "" << "%DeleteDir%\\PRG\\PRG2";
    QTest::newRow("plain directory") << "PRG" << "OLD" << true << "" << "%DeleteDir%\\PRG\\OLD";
}

void ManagementTest::deletes() {
    QFETCH(QString, directory);
    QFETCH(QString, caption);
    QFETCH(bool, confirm);
    QFETCH(QString, refusal);
    QFETCH(QString, command);
    AppFixture fixture;
    MakeTree(fixture);
    TForm1 &form = fixture.Open();
    QVERIFY(EnterPath(form, directory));
    QVERIFY(ClickItem(form, caption));
    const bool isFile = caption.contains(QChar('.'));
    const QString onDisk = fixture.StoragePath(directory.isEmpty() ? caption : directory + "/" + caption);
    fixture.dialogs.confirmAnswer = confirm;
    fixture.dialogs.shown.clear();
    form.StatusPanel1->setText("marker");
    RecordSentFrames();
    if (isFile) form.N5Click();
    else form.N7Click();

    // The question always comes first.
    QVERIFY(!fixture.dialogs.shown.isEmpty());
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("confirm"));
    // The question names what it is about, after its own text.
    const QString named = (directory.isEmpty() ? QStringLiteral("\\") : "\\" + QString(directory).replace('/', '\\') + "\\") + caption;
    if (isFile) {
        QCOMPARE(fixture.dialogs.shown[0].title, QStringLiteral("删除远程文件？"));
        QCOMPARE(fixture.dialogs.shown[0].text, QStringLiteral("确定删除该远程文件吗\n") + named);
    } else {
        QCOMPARE(fixture.dialogs.shown[0].title, QStringLiteral("Delete Dir？"));
        QCOMPARE(fixture.dialogs.shown[0].text, QStringLiteral("Delete NC Dir?\n") + named);
    }
    if (!refusal.isEmpty()) {
        QCOMPARE(fixture.dialogs.shown.size(), 2);
        QCOMPARE(fixture.dialogs.shown[1].kind, QStringLiteral("error"));
        QCOMPARE(fixture.dialogs.shown[1].text, refusal);
        QVERIFY(SentFrames().empty());
        QVERIFY(QFileInfo::exists(onDisk));
        QCOMPARE(form.StatusText(1), QStringLiteral("marker"));
        return;
    }
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    const QString path = directory.isEmpty() ? QStringLiteral("\\") : "\\" + directory.replace('/', '\\') + "\\";
    QCOMPARE(SentTexts(), (std::vector<std::string>{command.toStdString(), "%DirList%%" + path.toStdString()}));
    QVERIFY(!QFileInfo::exists(onDisk));
    QVERIFY(!ListCaptions(form).contains(caption));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
}

void ManagementTest::wrongItemKindsDoNothing() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    form.StatusPanel1->setText("marker");
    RecordSentFrames();
    // Delete-file on a directory, delete-directory on a file, and each
    // command with nothing selected.
    QVERIFY(ClickItem(form, "DATA"));
    form.N5Click();
    QVERIFY(ClickItem(form, "O1234.NC"));
    form.N7Click();
    form.ListView1->clearSelection();
    form.N5Click();
    form.N7Click();
    form.NC1Click();
    QVERIFY(SentFrames().empty());
    QVERIFY(fixture.dialogs.shown.isEmpty());
    QCOMPARE(form.StatusText(1), QStringLiteral("marker"));
    QVERIFY(QFileInfo::exists(fixture.StoragePath("DATA")));
    QVERIFY(QFileInfo::exists(fixture.StoragePath("O1234.NC")));
}

void ManagementTest::createDirectory_data() {
    QTest::addColumn<int>("dialogResult");
    QTest::addColumn<QString>("name");  // typed in place of the proposal; empty keeps it
    QTest::addColumn<QString>("command");
    QTest::newRow("proposed name") << int(TForm2::kResultOk) << "" << "%CreateDir%\\PRG\\NewDir";
    QTest::newRow("typed name") << int(TForm2::kResultOk) << "NC2" << "%CreateDir%\\PRG\\NC2";
    // The dialog's local save also goes on to create the directory.
    QTest::newRow("after a local save") << int(TForm2::kResultLocalSave) << "" << "%CreateDir%\\PRG\\NewDir";
}

void ManagementTest::createDirectory() {
    QFETCH(int, dialogResult);
    QFETCH(QString, name);
    QFETCH(QString, command);
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    QVERIFY(EnterPath(form, "PRG"));
    QVERIFY(ClickItem(form, "O0001.CNC"));  // any item will do
    QString proposed;
    fixture.dialogs.modal = [&](QDialog *dialog) {
        auto *form2 = static_cast<TForm2 *>(dialog);
        proposed = form2->Edit1->text();
        if (!name.isEmpty()) form2->Edit1->setText(name);
        return dialogResult;
    };
    RecordSentFrames();
    form.NC1Click();
    QCOMPARE(proposed, QStringLiteral("NewDir"));
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].title, QStringLiteral("Create Dir？"));
    QCOMPARE(fixture.dialogs.shown[0].text, QStringLiteral("Create NC Dir?"));
    QCOMPARE(SentTexts(), (std::vector<std::string>{command.toStdString(), "%DirList%%\\PRG\\"}));
    const QString created = name.isEmpty() ? QStringLiteral("NewDir") : name;
    QVERIFY(QFileInfo(fixture.StoragePath("PRG/" + created)).isDir());
    QVERIFY(ListCaptions(form).contains(created));
    QCOMPARE(form.CurrentNcPath, QStringLiteral("\\PRG\\"));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
}

void ManagementTest::cancelsSendNothing_data() {
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("dialogResult");
    QTest::addColumn<int>("boxes");  // boxes shown
    QTest::newRow("delete file, question") << "N5" << "O0003.NC" << 0 << 1;
    QTest::newRow("delete directory, question") << "N7" << "OLD" << 0 << 1;
    QTest::newRow("create directory, name dialog") << "NC1" << "OLD" << int(TForm2::kResultCancel) << 0;
    QTest::newRow("create directory, question") << "NC1" << "OLD" << int(TForm2::kResultOk) << 1;
}

void ManagementTest::cancelsSendNothing() {
    QFETCH(QString, menu);
    QFETCH(QString, caption);
    QFETCH(int, dialogResult);
    QFETCH(int, boxes);
    AppFixture fixture;
    QVERIFY(QDir(fixture.StoragePath()).mkpath("PRG/OLD"));
    TForm1 &form = fixture.Open();
    QVERIFY(EnterPath(form, "PRG"));
    const QStringList before = QDir(fixture.StoragePath("PRG")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QVERIFY(ClickItem(form, caption));
    fixture.dialogs.confirmAnswer = false;
    fixture.dialogs.modal = [dialogResult](QDialog *) { return dialogResult; };
    form.StatusPanel1->setText("marker");
    RecordSentFrames();
    if (menu == "N5") form.N5Click();
    else if (menu == "N7") form.N7Click();
    else form.NC1Click();
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.shown.size(), boxes);
    QCOMPARE(form.StatusText(1), QStringLiteral("marker"));
    QCOMPARE(QDir(fixture.StoragePath("PRG")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

void ManagementTest::failedCommandShowsItsCodeWithoutRefresh() {
    AppFixture fixture;
    QVERIFY(QDir(fixture.StoragePath()).mkpath("PRG/FULL"));
    WriteFileBytes(fixture.StoragePath("PRG/FULL/A.NC"), {'G'});
    TForm1 &form = fixture.Open();
    QVERIFY(EnterPath(form, "PRG"));
    QVERIFY(ClickItem(form, "FULL"));
    RecordSentFrames();
    form.N7Click();
    // The controller refuses to delete a directory that is not empty.
    QCOMPARE(SentTexts(), std::vector<std::string>{"%DeleteDir%\\PRG\\FULL"});
    QCOMPARE(form.StatusText(1), QStringLiteral("0x04,Execute Operation Error 代码4"));
    QVERIFY(ListCaptions(form).contains("FULL"));
}

QTEST_MAIN(ManagementTest)
#include "tst_management.moc"
