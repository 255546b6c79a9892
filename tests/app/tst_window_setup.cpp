// Program start and the main window: link kinds, captions, status panel 0,
// device changes, the conversion error, link switching and the demo mode.
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <cerrno>
#include <grp.h>

#include "app/Unit2.h"
#include "app/address_book.h"
#include "tests/app/app_fixture.h"
#include "app/demo_mode.h"
#include "app/escape_key.h"
#include "nccmd/session.h"
#include "core/request_engine.h"
#include "app/serial_ports.h"

class WindowSetupTest : public QObject {
    Q_OBJECT
private slots:
    void startWithStoredLinkKind_data();
    void startWithStoredLinkKind();
    void captionsAfterStartAndDeviceChange();
    void deviceChangeShowsItsAddressAndResetsBrowsing();
    void conversionErrorStopsSetUp();
    void typingADeviceIdRunsSetUpPerKeystroke();
    void linkButtonsStoreTheKindAndSwitchTheEngine();
    void missingPortReportsFailureTexts();
    void pseudoTerminalOpensWithBaudTexts();
    void permissionFailureNamesTheOwningGroup();
    void demoModeListsItsRoot();
    void deviceIdsOutsideTheBook();
    void escapeKeyIsTrackedWhileHeld();
};

void WindowSetupTest::startWithStoredLinkKind_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("net");
    QTest::addColumn<int>("timeout");
    QTest::newRow("serial") << 0 << false << 600;
    QTest::newRow("network") << 1 << true << 0;
    QTest::newRow("neither") << 7 << false << 600;
}

void WindowSetupTest::startWithStoredLinkKind() {
    QFETCH(int, stored);
    QFETCH(bool, net);
    QFETCH(int, timeout);
    AppFixture fixture;
    const auto image = AddressBookImage(static_cast<uint8_t>(stored), {{1, "127.0.0.1"}, {9, "10.1.2.9"}});
    TForm1 &form = fixture.Open(static_cast<uint8_t>(stored), {{1, "127.0.0.1"}, {9, "10.1.2.9"}});

    QCOMPARE(form.RB2->isChecked(), net);
    QCOMPARE(form.RB1->isChecked(), !net);
    QCOMPARE(form.BitBtn9->isEnabled(), net);
    QCOMPARE(form.Connection().Selected(), net ? nccmd::LinkType::kUdp : nccmd::LinkType::kSerial);
    QCOMPARE(core::CurrentEngineSettings().timeout, timeout);
    QCOMPARE(core::CurrentEngineSettings().retries, 5);
    QCOMPARE(int(core::CurrentEngineSettings().address), 1);
    QCOMPARE(form.DeviceId, uint8_t(1));
    QCOMPARE(form.CB4->currentText(), QStringLiteral("127.0.0.1"));
    QCOMPARE(form.CB1->currentText(), QStringLiteral("COM3"));
    QCOMPARE(form.CB2->currentText(), QStringLiteral("115200"));
    QCOMPARE(form.windowTitle(), QStringLiteral("\\"));
    QCOMPARE(form.Label1->text(), QStringLiteral("%DirList%%\\"));
    QCOMPARE(form.ListView1->topLevelItemCount(), 0);
    // Starting on the network link writes the book back, unchanged.
    QCOMPARE(ReadFileBytes(fixture.WorkPath("IpAddr.dat")), image);
}

void WindowSetupTest::captionsAfterStartAndDeviceChange() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    const std::vector<std::pair<QWidget *, QString>> expected = {
        {form.Label2, "NCDeviceID:"},       {form.Label3, "COM:"},
        {form.Label4, "BaudRate:"},         {form.BitBtn10, "Save As NC File..."},
        {form.BitBtn7, "ReadNCDeviceDir"},  {form.BitBtn8, "ReturnNCUpDir"},
        {form.BitBtn4, "SendFileToNC"},     {form.Label5, "DeviceID"},
        {form.Label6, "To"},                {form.BitBtn2, "SearchDeviceID"},
        {form.Label7, "NCDeviceIP："},      {form.BitBtn11, "启动DNC加工"},
        {form.BitBtn12, "停止DNC加工"},     {form.BitBtn9, "SetIPaddr"},
        {form.BitBtn1, "Close"},            {form.RB1, "Com"},
        {form.RB2, "Net"},
    };
    auto check = [&] {
        for (const auto &[widget, text] : expected) {
            const QVariant shown = widget->property("text");
            QVERIFY2(shown.toString() == text, qPrintable(widget->objectName() + ": " + shown.toString()));
        }
    };
    check();
    form.CB3->setEditText(QStringLiteral("2"));
    check();
    // Every control is found under its form name.
    for (const char *name : {"CB1", "CB2", "CB3", "CB4", "ListView1", "ListView2", "Memo1", "ProgressBar1",
                             "StatusBar1", "PopupMenu1", "Edit1", "Edit2", "GroupBox1"})
        QVERIFY2(form.findChild<QObject *>(QString::fromLatin1(name)), name);
    QCOMPARE(form.ListView1->headerItem()->text(0), QStringLiteral("File"));
    QCOMPARE(form.ListView2->headerItem()->text(0), QStringLiteral("设备ID"));
    QCOMPARE(form.N1->text(), QStringLiteral("Read NC System Dir "));
    QCOMPARE(form.CB2->count(), 20);
    QCOMPARE(form.CB2->itemText(3), QStringLiteral("134.5"));
}

void WindowSetupTest::deviceChangeShowsItsAddressAndResetsBrowsing() {
    AppFixture fixture;
    TForm1 &form = fixture.Open(1, {{1, "127.0.0.1"}, {7, "192.168.1.17"}});
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    QCOMPARE(form.CurrentNcPath, QStringLiteral("\\PRG\\"));
    QVERIFY(ClickItem(form, "O0001.CNC"));
    QCOMPARE(form.SelectedFileName, QStringLiteral("O0001.CNC"));

    form.CB3->setCurrentIndex(6);  // "7" from the list
    QCOMPARE(form.CB3->currentText(), QStringLiteral("7"));
    QCOMPARE(form.DeviceId, uint8_t(7));
    QCOMPARE(int(core::CurrentEngineSettings().address), 7);
    QCOMPARE(form.CB4->currentText(), QStringLiteral("192.168.1.17"));
    QCOMPARE(form.windowTitle(), QStringLiteral("\\"));
    QCOMPARE(form.Label1->text(), QStringLiteral("%DirList%%\\"));
    QCOMPARE(form.CurrentNcPath, QStringLiteral("\\"));
    QVERIFY(form.SelectedFileName.isEmpty());
    QCOMPARE(form.CB3->count(), 100);
    QCOMPARE(form.CB3->itemText(99), QStringLiteral("100"));
    // The listing was device 1's: it goes with the change, so device 7 is
    // never shown device 1's files.
    QVERIFY(ListCaptions(form).isEmpty());
}

void WindowSetupTest::conversionErrorStopsSetUp() {
    AppFixture fixture;
    TForm1 &form = fixture.Open(1, {{1, "127.0.0.1"}, {4, "10.0.0.4"}});
    for (const QString &text : {QStringLiteral("abc"), QStringLiteral("1x"), QStringLiteral("4.5")}) {
        fixture.dialogs.shown.clear();
        form.CB3->setEditText(text);
        QCOMPARE(fixture.dialogs.shown.size(), 1);
        QCOMPARE(fixture.dialogs.shown[0].text, QStringLiteral("'%1' is not a valid integer value.").arg(text));
        QCOMPARE(form.DeviceId, uint8_t(1));
        QCOMPARE(form.CB4->currentText(), QStringLiteral("127.0.0.1"));
        QCOMPARE(int(core::CurrentEngineSettings().address), 1);
    }
}

void WindowSetupTest::typingADeviceIdRunsSetUpPerKeystroke() {
    AppFixture fixture;
    TForm1 &form = fixture.Open(1, {{1, "127.0.0.1"}, {12, "10.0.0.12"}});
    form.CB3->lineEdit()->selectAll();
    QTest::keyClick(form.CB3->lineEdit(), Qt::Key_Backspace);
    QCOMPARE(fixture.dialogs.Texts(), QStringList{QStringLiteral("'' is not a valid integer value.")});
    QTest::keyClicks(form.CB3->lineEdit(), QStringLiteral("1"));
    QCOMPARE(form.DeviceId, uint8_t(1));
    QTest::keyClicks(form.CB3->lineEdit(), QStringLiteral("2"));
    QCOMPARE(form.DeviceId, uint8_t(12));
    QCOMPARE(form.CB4->currentText(), QStringLiteral("10.0.0.12"));
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(form.CB3->count(), 100);
}

void WindowSetupTest::linkButtonsStoreTheKindAndSwitchTheEngine() {
    AppFixture fixture;
    TForm1 &form = fixture.Open(0);
    QCOMPARE(core::CurrentEngineSettings().timeout, 600);
    form.RB2->click();
    QVERIFY(form.RB2->isChecked());
    QCOMPARE(form.Connection().Selected(), nccmd::LinkType::kUdp);
    QVERIFY(form.BitBtn9->isEnabled());
    QCOMPARE(core::CurrentEngineSettings().timeout, 0);
    auto image = AddressBookImage(1, {{1, "127.0.0.1"}});
    QCOMPARE(ReadFileBytes(fixture.WorkPath("IpAddr.dat")), image);
    // Switched without a restart, the network link works at once.
    QCOMPARE(form.ReadNcDirectory(form.DeviceId, form.ListingRequest()), uint8_t(0));
    QCOMPARE(ListCaptions(form), kSampleRoot);

    form.RB1->click();
    QCOMPARE(form.Connection().Selected(), nccmd::LinkType::kSerial);
    QVERIFY(!form.BitBtn9->isEnabled());
    QCOMPARE(core::CurrentEngineSettings().timeout, 600);
    image[0] = 0;
    QCOMPARE(ReadFileBytes(fixture.WorkPath("IpAddr.dat")), image);
}

void WindowSetupTest::missingPortReportsFailureTexts() {
    // COM5 is /dev/ttyS4; a machine where it opens cannot show the failure.
    const int probe = ::open("/dev/ttyS4", O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (probe >= 0) {
        ::close(probe);
        QSKIP("/dev/ttyS4 exists and opens here");
    }
    AppFixture fixture;
    TForm1 &form = fixture.Open(1, {{1, "127.0.0.1"}}, QStringLiteral("/nonexistent/ttyX"));
    QCOMPARE(form.StatusText(0), QStringLiteral("OPEN /nonexistent/ttyX Error"));
    QVERIFY(form.StatusPanel0->toolTip().contains(QStringLiteral("/nonexistent/ttyX")));
    form.CB1->setCurrentIndex(4);
    QCOMPARE(form.StatusText(0), QStringLiteral("打开COM5错误"));
    QVERIFY(form.StatusPanel0->toolTip().contains(QStringLiteral("/dev/ttyS4")));
    form.CB3->setEditText(QStringLiteral("2"));  // the set-up reports in English
    QCOMPARE(form.StatusText(0), QStringLiteral("OPEN COM5 Error"));
}

void WindowSetupTest::pseudoTerminalOpensWithBaudTexts() {
    int master = -1, slave = -1;
    char name[256] = {};
    QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
    ::close(slave);
    const QString device = QString::fromLocal8Bit(name);
    {
        AppFixture fixture;
        TForm1 &form = fixture.Open(1, {{1, "127.0.0.1"}}, device);
        QCOMPARE(form.CB1->currentText(), device);
        QCOMPARE(form.StatusText(0), device + QStringLiteral(" BaudRate:115200 Data:8"));
        form.CB2->setCurrentIndex(3);  // "134.5" in the list
        QCOMPARE(form.StatusText(0), device + QStringLiteral(" 波特率:134 数据位:8"));
        form.CB3->setEditText(QStringLiteral("1"));  // same text: no set-up
        form.CB3->setEditText(QStringLiteral("2"));
        QCOMPARE(form.StatusText(0), device + QStringLiteral(" BaudRate:134 Data:8"));
    }
    ::close(master);
}

void WindowSetupTest::permissionFailureNamesTheOwningGroup() {
    QTemporaryDir dir;
    const QString path = dir.filePath("ttyFAKE");
    WriteFileBytes(path, {});
    struct stat info{};
    QVERIFY(::stat(path.toLocal8Bit().constData(), &info) == 0);
    const QString group = QString::fromLocal8Bit(::getgrgid(info.st_gid)->gr_name);
    const QString denied = SerialOpenFailureReason(path, QStringLiteral("open: Permission denied"), EACCES);
    QVERIFY2(denied.contains(QStringLiteral("'%1'").arg(group)), qPrintable(denied));
    QVERIFY(denied.contains(QStringLiteral("Permission denied")));
    const QString missing = SerialOpenFailureReason(path, QStringLiteral("open: No such file"), ENOENT);
    QVERIFY(!missing.contains(QStringLiteral("group")));
}

void WindowSetupTest::demoModeListsItsRoot() {
    const QString before = QDir::currentPath();
    QTemporaryDir userDir;
    QDir::setCurrent(userDir.path());
    const auto userBook = AddressBookImage(0, {{1, "10.9.8.7"}});
    WriteFileBytes(userDir.filePath("IpAddr.dat"), userBook);
    ScriptedDialogs dialogs;
    InstallDialogs(&dialogs);
    {
        DemoController demo;
        QString error;
        QVERIFY2(demo.Start(&error), qPrintable(error));
        QVERIFY(QDir::currentPath() != userDir.path());
        TForm1Options options;
        options.udpPort = demo.Port();
        options.serialDevice = demo.SerialDevice();
        options.settingsFile = demo.WorkingDirectory() + QStringLiteral("/dncpanel.conf");
        TForm1 form(options);
        QVERIFY(form.RB2->isChecked());
        QCOMPARE(form.CB4->currentText(), QStringLiteral("127.0.0.1"));
        // The serial side is open on the demo's pseudo-terminal, not a
        // missing COM3.
        QCOMPARE(form.CB1->currentText(), demo.SerialDevice());
        QCOMPARE(form.StatusText(0), demo.SerialDevice() + QStringLiteral(" BaudRate:115200 Data:8"));
        form.BitBtn7Click();
        QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
        QCOMPARE(ListCaptions(form), kSampleRoot);
        // Both links list the same storage.
        form.RB1->setChecked(true);
        form.ListView1->clear();
        form.BitBtn7Click();
        QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
        QCOMPARE(ListCaptions(form), kSampleRoot);
    }
    InstallDialogs(nullptr);
    QCOMPARE(ReadFileBytes(userDir.filePath("IpAddr.dat")), userBook);
    QVERIFY(dialogs.shown.isEmpty());
    QDir::setCurrent(before);
}

void WindowSetupTest::deviceIdsOutsideTheBook() {
    AppFixture fixture;
    TForm1 &form = fixture.Open(1, {{1, "127.0.0.1"}, {44, "10.0.0.44"}});
    // Only entries 1..100 hold addresses; the frame address is the low byte.
    form.CB3->setEditText(QStringLiteral("300"));
    QCOMPARE(form.DeviceId, uint8_t(44));
    QCOMPARE(form.CB4->currentText(), QString());
    form.CB3->setEditText(QStringLiteral("0"));
    QCOMPARE(form.DeviceId, uint8_t(0));
    QCOMPARE(form.CB4->currentText(), QString());
    QVERIFY(fixture.dialogs.shown.isEmpty());
}

void WindowSetupTest::escapeKeyIsTrackedWhileHeld() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    QVERIFY(!EscapeHeld());
    QTest::keyPress(form.Memo1, Qt::Key_Escape);
    QVERIFY(EscapeHeld());
    QTest::keyPress(form.Memo1, Qt::Key_A);
    QVERIFY(EscapeHeld());
    QTest::keyRelease(form.Memo1, Qt::Key_Escape);
    QVERIFY(!EscapeHeld());
}

QTEST_MAIN(WindowSetupTest)
#include "tst_window_setup.moc"
