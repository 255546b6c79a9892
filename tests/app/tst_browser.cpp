// The remote directory browser: root, entering, going up, failures, and how
// a listing is drawn.
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTreeWidget>
#include <cstring>

#include "tests/app/app_fixture.h"
#include "nccmd/nc_protocol.h"

namespace {

struct Entry {
    uint8_t attribute;
    const char *name;  // up to 9 bytes, zero added when shorter
    const char *extension;
    uint32_t size;
};

std::vector<uint8_t> Listing(const std::vector<Entry> &entries, size_t extraBytes = 0) {
    std::vector<uint8_t> bytes(entries.size() * 20 + extraBytes, 0xEE);
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t *e = &bytes[i * 20];
        std::memset(e, 0, 20);
        e[0] = entries[i].attribute;
        std::memcpy(e + 1, entries[i].name, std::min<size_t>(9, std::strlen(entries[i].name)));
        std::memcpy(e + 10, entries[i].extension, std::min<size_t>(6, std::strlen(entries[i].extension)));
        nccmd::PutLittleEndian32(e + 16, entries[i].size);
    }
    return bytes;
}

}  // namespace

class BrowserTest : public QObject {
    Q_OBJECT
private slots:
    void listingRendering_data();
    void listingRendering();
    void listingCapsAt1024Entries();
    void rootEnterAndUp();
    void upAtRootSendsNothing();
    void failedEntryKeepsTheParent();
    void failedListingKeepsTheItems();
    void clicksRememberFilesOnly();
    void fileDoubleClickAsksFirst();
    void tooLongPathsAreRefusedBeforeSending();
};

void BrowserTest::listingRendering_data() {
    QTest::addColumn<std::vector<uint8_t>>("listing");
    QTest::addColumn<uint32_t>("total");
    QTest::addColumn<QStringList>("rows");  // caption|size|type|picture
    QTest::newRow("empty") << std::vector<uint8_t>{} << 0u << QStringList{};
    QTest::newRow("kb rounding and types")
        << Listing({{0x20, "O1", "NC", 1023}, {0x20, "O2", "CNC", 1024}, {0x10, "PRG", "", 5000},
                    {0x11, "ODD", "X", 2047}})
        << 80u << QStringList{"O1.NC|0 KB|32|1", "O2.CNC|1 KB|32|1", "PRG|4 KB|16|0", "ODD.X|1 KB|17|1"};
    QTest::newRow("attribute 0 is drawn as a directory")
        << Listing({{0, "ZERO", "TXT", 0}}) << 20u << QStringList{"ZERO|0 KB|0|0"};
    QTest::newRow("trailing partial entry ignored")
        << Listing({{0x20, "A", "NC", 1}, {0x20, "B", "NC", 2}}, 10) << 50u << QStringList{"A.NC|0 KB|32|1", "B.NC|0 KB|32|1"};
    QTest::newRow("name filling its field stops there")
        << Listing({{0x20, "ABCDEFGHI", "NCPRGM", 0}}) << 20u << QStringList{"ABCDEFGHI.NCPRGM|0 KB|32|1"};
    QTest::newRow("GBK name") << Listing({{0x20, "\xd6\xd0\xce\xc4", "NC", 0}}) << 20u
                              << QStringList{QStringLiteral("中文.NC|0 KB|32|1")};
}

void BrowserTest::listingRendering() {
    QFETCH(std::vector<uint8_t>, listing);
    QFETCH(uint32_t, total);
    QFETCH(QStringList, rows);
    QTreeWidget list;
    list.setColumnCount(3);
    list.addTopLevelItem(new QTreeWidgetItem(QStringList{"stale"}));
    ImageList images;
    images.images[0] = QIcon(QPixmap(4, 4));
    QPixmap other(4, 4);
    other.fill(Qt::red);
    images.images[1] = QIcon(other);
    ShowListing(&list, images, listing.data(), total);
    QStringList shown;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = list.topLevelItem(i);
        const int picture = item->icon(0).cacheKey() == images.images[0].cacheKey()   ? 0
                            : item->icon(0).cacheKey() == images.images[1].cacheKey() ? 1
                                                                                       : -1;
        shown.append(QStringLiteral("%1|%2|%3|%4").arg(item->text(0), item->text(1), item->text(2)).arg(picture));
    }
    QCOMPARE(shown, rows);
}

void BrowserTest::listingCapsAt1024Entries() {
    std::vector<Entry> entries(1100, Entry{0x20, "F", "NC", 0});
    entries[1023] = Entry{0x20, "LAST", "NC", 0};
    entries[1024] = Entry{0x20, "BEYOND", "NC", 0};
    const auto bytes = Listing(entries);
    QTreeWidget list;
    list.setColumnCount(3);
    ShowListing(&list, ImageList{}, bytes.data(), static_cast<uint32_t>(bytes.size()));
    QCOMPARE(list.topLevelItemCount(), 1024);
    QCOMPARE(list.topLevelItem(1023)->text(0), QStringLiteral("LAST.NC"));
}

void BrowserTest::rootEnterAndUp() {
    AppFixture fixture;
    QVERIFY(QDir(fixture.StoragePath("PRG")).mkdir("SUB"));
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(ListCaptions(form), kSampleRoot);
    QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());

    QStringList titles, labels;
    auto record = [&] {
        titles.append(form.windowTitle());
        labels.append(form.Label1->text());
    };
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    record();
    QVERIFY(ListCaptions(form).contains("O0001.CNC"));
    QVERIFY(ClickItem(form, "SUB"));
    form.ListView1DblClick();
    WaitIdle(form);
    record();
    QCOMPARE(form.ListView1->topLevelItemCount(), 0);
    form.BitBtn8Click();
    record();
    QVERIFY(ListCaptions(form).contains("SUB"));
    form.BitBtn8Click();
    record();
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
    QCOMPARE(ListCaptions(form), kSampleRoot);
    QCOMPARE(titles, (QStringList{"\\PRG\\", "\\PRG\\SUB\\", "\\PRG\\", "\\"}));
    QCOMPARE(labels, (QStringList{"%DirList%%\\PRG\\", "%DirList%%\\PRG\\SUB\\", "%DirList%%\\PRG\\", "%DirList%%\\"}));
}

void BrowserTest::upAtRootSendsNothing() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    form.StatusPanel1->setText("marker");
    RecordSentFrames();
    form.BitBtn8Click();
    QVERIFY(SentFrames().empty());
    QCOMPARE(form.StatusText(1), QStringLiteral("marker"));
    QCOMPARE(form.CurrentNcPath, QStringLiteral("\\"));
}

void BrowserTest::failedEntryKeepsTheParent() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    QVERIFY(QDir(fixture.StoragePath("DATA")).removeRecursively());
    QVERIFY(ClickItem(form, "DATA"));
    form.ListView1DblClick();
    WaitIdle(form);
    QCOMPARE(form.StatusText(1), QStringLiteral("0xe2,Open File Error 代码42"));
    QCOMPARE(form.CurrentNcPath, QStringLiteral("\\"));
    QCOMPARE(form.windowTitle(), QStringLiteral("\\"));
    QCOMPARE(form.Label1->text(), QStringLiteral("%DirList%%\\"));
    QCOMPARE(ListCaptions(form), kSampleRoot);
}

void BrowserTest::failedListingKeepsTheItems() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    const QStringList inPrg = ListCaptions(form);
    fixture.simulator->Stop();
    form.BitBtn8Click();  // no answer any more
    QCOMPARE(form.StatusText(1), QStringLiteral("0xff,Overtime Error 代码5f"));
    QCOMPARE(form.CurrentNcPath, QStringLiteral("\\"));  // the path moves up anyway
    QCOMPARE(form.windowTitle(), QStringLiteral("\\"));
    QCOMPARE(ListCaptions(form), inPrg);
}

void BrowserTest::clicksRememberFilesOnly() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(ClickItem(form, "O0003.NC"));
    QCOMPARE(form.SelectedFileName, QStringLiteral("O0003.NC"));
    form.BitBtn8Click();  // kept across directory changes
    QCOMPARE(form.SelectedFileName, QStringLiteral("O0003.NC"));
    QVERIFY(ClickItem(form, "QVT"));
    QVERIFY(form.SelectedFileName.isEmpty());
    // Several selected: the first in list order counts.
    form.ListView1->topLevelItem(2)->setSelected(true);
    form.ListView1->topLevelItem(1)->setSelected(true);
    form.ListView1Click();
    QVERIFY(form.SelectedFileName.isEmpty());
}

void BrowserTest::fileDoubleClickAsksFirst() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(ClickItem(form, "O0003.NC"));
    fixture.dialogs.confirmAnswer = false;
    RecordSentFrames();
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].title, QStringLiteral("读远程文件？"));
    QCOMPARE(fixture.dialogs.shown[0].text, QStringLiteral("确定读取远程文件吗？：\\PRG\\O0003.NC"));
    QCOMPARE(form.SelectedFileName, QStringLiteral("O0003.NC"));

    fixture.dialogs.confirmAnswer = true;
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(!SentFrames().empty());
    QCOMPARE(SentFrames().front().TextFrom(4), std::string("\\PRG\\O0003.NC"));
    QCOMPARE(form.StatusText(1), QStringLiteral("Operation Successful"));
}

void BrowserTest::tooLongPathsAreRefusedBeforeSending() {
    AppFixture fixture;
    TForm1 &form = fixture.Open();
    form.BitBtn7Click();
    RecordSentFrames();
    // A path one name short of the directory limit, then a name that would
    // cross it; and a file path beyond the remote path limit.
    form.CurrentNcPath = QStringLiteral("\\") + QString(496, QChar('A')) + QStringLiteral("\\");
    QVERIFY(ClickItem(form, "PRG"));
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.shown.size(), 1);
    QCOMPARE(fixture.dialogs.shown[0].kind, QStringLiteral("error"));
    QCOMPARE(form.CurrentNcPath.size(), 498);

    form.CurrentNcPath = QStringLiteral("\\") + QString(90, QChar('B')) + QStringLiteral("\\");
    form.ListView1->clear();
    form.ListView1->addTopLevelItem(new QTreeWidgetItem(QStringList{"O0001.CNC", "0 KB", "32"}));
    QVERIFY(ClickItem(form, "O0001.CNC"));  // 92 + 9 = 101 characters
    form.ListView1DblClick();
    WaitIdle(form);
    QVERIFY(SentFrames().empty());
    QCOMPARE(fixture.dialogs.shown.size(), 2);
    QCOMPARE(fixture.dialogs.shown[1].kind, QStringLiteral("error"));
}

QTEST_MAIN(BrowserTest)
#include "tst_browser.moc"
