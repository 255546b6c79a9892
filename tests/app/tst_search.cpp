// The device search over a range of IDs, the engine's timing during and
// after it on both links, and picking a found device.
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "tests/app/app_fixture.h"
#include "core/request_engine.h"

namespace {

// The device addresses of the frames sent, in order.
std::vector<int> Addresses() {
    std::vector<int> addresses;
    for (const SentFrame &f : SentFrames()) addresses.push_back(f.address);
    return addresses;
}

QStringList FoundDevices(const TForm1 &form) {
    QStringList ids;
    for (int i = 0; i < form.ListView2->topLevelItemCount(); ++i) ids.append(form.ListView2->topLevelItem(i)->text(0));
    return ids;
}

std::vector<int> Range(int first, int last) {
    std::vector<int> ids;
    for (int id = first; id <= last; ++id) ids.push_back(id);
    return ids;
}

ncsim::Options Answering(std::vector<uint8_t> ids) {
    ncsim::Options options;
    options.ids = std::move(ids);
    return options;
}

core::EngineSettings observed{};

}  // namespace

class SearchTest : public QObject {
    Q_OBJECT
private slots:
    void searchRange_data();
    void searchRange();
    void zeroAddressSearchesNothing();
    void rangeThatIsNotANumber();
    void networkSettingsAfterSearch();
    void serialSettingsDuringAndAfterSearch();
    void doubleClickSelectsTheDevice();
};

void SearchTest::searchRange_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<std::vector<uint8_t>>("controllers");
    QTest::addColumn<std::vector<int>>("asked");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("1 to 5") << "1" << "5" << std::vector<uint8_t>{2, 4} << Range(1, 5) << QStringList{"2", "4"};
    QTest::newRow("95 to 120 stops below 100")
        << "95" << "120" << std::vector<uint8_t>{97, 100, 101} << Range(95, 99) << QStringList{"97"};
    QTest::newRow("260 is 4") << "1" << "260" << std::vector<uint8_t>{2, 4, 5} << Range(1, 4) << QStringList{"2", "4"};
    QTest::newRow("first above last") << "5" << "1" << std::vector<uint8_t>{1, 5} << std::vector<int>{} << QStringList{};
    QTest::newRow("0 is asked too") << "0" << "2" << std::vector<uint8_t>{0, 2} << Range(0, 2) << QStringList{"0", "2"};
}

void SearchTest::searchRange() {
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(std::vector<uint8_t>, controllers);
    QFETCH(std::vector<int>, asked);
    QFETCH(QStringList, found);
    AppFixture fixture;
    fixture.RestartSimulator(Answering(controllers));
    TForm1 &form = fixture.Open();
    form.ListView2->addTopLevelItem(new QTreeWidgetItem(QStringList{"stale"}));
    form.Edit1->setText(first);
    form.Edit2->setText(last);
    RecordSentFrames();
    form.BitBtn2Click();
    // On the network link each ID is asked once: no retries while searching.
    QCOMPARE(Addresses(), asked);
    for (const SentFrame &f : SentFrames()) QCOMPARE(f.TextFrom(4), std::string("%SearchId"));
    QCOMPARE(FoundDevices(form), found);
    for (int i = 0; i < form.ListView2->topLevelItemCount(); ++i)
        QCOMPARE(form.ListView2->topLevelItem(i)->icon(0).cacheKey(), form.ImageList1.images[2].cacheKey());
    QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());
    QVERIFY(!form.Busy());
    QVERIFY(form.CB3->isEnabled());
}

void SearchTest::zeroAddressSearchesNothing() {
    AppFixture fixture;
    // The current device's entry (device 1) holds "0"; device 2's does not.
    TForm1 &form = fixture.Open(1, {{1, "0"}, {2, "127.0.0.1"}});
    RecordSentFrames();
    form.BitBtn2Click();
    QVERIFY(SentFrames().empty());
    QVERIFY(FoundDevices(form).isEmpty());
    QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());
    QCOMPARE(core::CurrentEngineSettings().retries, 10);
}

void SearchTest::rangeThatIsNotANumber() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.ListView2->addTopLevelItem(new QTreeWidgetItem(QStringList{"7"}));
    form.Edit2->setText("five");
    RecordSentFrames();
    form.BitBtn2Click();
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.Texts(), QStringList{"'five' is not a valid integer value."});
    QCOMPARE(FoundDevices(form), QStringList{"7"});
    QCOMPARE(core::CurrentEngineSettings().retries, 5);
    QVERIFY(!form.Busy());
}

void SearchTest::networkSettingsAfterSearch() {
    AppFixture fixture;
    TForm1 &form = fixture.Open(1);
    QCOMPARE(core::CurrentEngineSettings().retries, 5);
    form.Edit2->setText("1");
    form.BitBtn2Click();
    QCOMPARE(FoundDevices(form), QStringList{"1"});
    const core::EngineSettings after = core::CurrentEngineSettings();
    QCOMPARE(after.address, uint8_t(1));
    QCOMPARE(after.timeout, 0);
    QCOMPARE(after.retries, 10);
    // The device is still reached afterwards.
    form.BitBtn7Click();
    QCOMPARE(ListCaptions(form), kSampleRoot);
}

void SearchTest::serialSettingsDuringAndAfterSearch() {
    AppFixture fixture;
    ncsim::Options options = Answering({2});
    options.root = fixture.StoragePath().toStdString();
    options.delayMs = 20;  // the window waits, idle, for each answer
    ncsim::Simulator serialController(options);
    QVERIFY2(serialController.StartPty(), serialController.LastError().c_str());
    TForm1 &form = fixture.Open(0, {}, QString::fromStdString(serialController.PtyPath()));
    QCOMPARE(core::CurrentEngineSettings().timeout, 600);
    form.Edit1->setText("2");
    form.Edit2->setText("3");
    observed = {};
    // Runs while the serial link waits for the first answer.
    QTimer::singleShot(0, &form, [] { observed = core::CurrentEngineSettings(); });
    form.BitBtn2Click();
    QCOMPARE(observed.timeout, 100);
    QCOMPARE(observed.retries, 1);
    QCOMPARE(FoundDevices(form), QStringList{"2"});
    const core::EngineSettings after = core::CurrentEngineSettings();
    QCOMPARE(after.timeout, 600);
    QCOMPARE(after.retries, 5);
    QCOMPARE(after.address, uint8_t(1));
    form.close();
    serialController.Stop();
}

void SearchTest::doubleClickSelectsTheDevice() {
    AppFixture fixture;
    fixture.RestartSimulator(Answering({2, 4}));
    TForm1 &form = fixture.Open(1, {{1, "127.0.0.1"}, {4, "127.0.0.1"}});
    form.BitBtn2Click();
    QCOMPARE(FoundDevices(form), (QStringList{"2", "4"}));
    // Nothing selected: nothing happens.
    RecordSentFrames();
    form.ListView2DblClick();
    QVERIFY(SentFrames().empty());
    QCOMPARE(form.DeviceId, uint8_t(1));

    form.ListView2->topLevelItem(1)->setSelected(true);
    form.ListView2DblClick();
    QCOMPARE(form.DeviceId, uint8_t(4));
    QVERIFY(!SentFrames().empty());
    QCOMPARE(SentFrames()[0].TextFrom(4), std::string("%DirList%%\\"));
    for (int address : Addresses()) QCOMPARE(address, 4);
    QCOMPARE(ListCaptions(form), kSampleRoot);
    QCOMPARE(form.CB3->currentText(), QStringLiteral("4"));
    QCOMPARE(form.CB4->currentText(), QStringLiteral("127.0.0.1"));
    QCOMPARE(form.windowTitle(), QStringLiteral("\\"));
    // CB3 shows the device without the set-up running again: the engine
    // keeps the timing the search left.
    QCOMPARE(core::CurrentEngineSettings().retries, 10);
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    // Later requests go to device 4.
    ClearSentFrames();
    form.BitBtn7Click();
    QVERIFY(!SentFrames().empty());
    for (int address : Addresses()) QCOMPARE(address, 4);
}

QTEST_MAIN(SearchTest)
#include "tst_search.moc"
