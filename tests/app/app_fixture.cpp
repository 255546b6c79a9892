#include "tests/app/app_fixture.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <cstring>

#include "app/address_book.h"
#include "app/escape_key.h"
#include "core/frame_codec.h"
#include "journal/journal.h"
#include "link/link_ops.h"
#include "nccmd/session.h"
#include "core/request_engine.h"

bool ScriptedDialogs::Confirm(QWidget *, const QString &title, const QString &text) {
    shown.append({QStringLiteral("confirm"), title, text});
    return answer ? answer(shown.last()) : confirmAnswer;
}

bool ScriptedDialogs::Ask(QWidget *, const QString &title, const QString &text) {
    shown.append({QStringLiteral("ask"), title, text});
    return answer ? answer(shown.last()) : confirmAnswer;
}

void ScriptedDialogs::Inform(QWidget *, const QString &title, const QString &text) {
    shown.append({QStringLiteral("inform"), title, text});
}

void ScriptedDialogs::Error(QWidget *, const QString &title, const QString &text) {
    shown.append({QStringLiteral("error"), title, text});
}

UnsavedAnswer ScriptedDialogs::AskUnsaved(QWidget *, const QString &title, const QString &text) {
    shown.append({QStringLiteral("unsaved"), title, text});
    if (onUnsaved) onUnsaved();
    return unsavedAnswer;
}

QString ScriptedDialogs::OpenFileName(QWidget *, const QString &initialName, const QString &) {
    lastInitialName = initialName;
    return openFileAnswer;
}

QString ScriptedDialogs::SaveFileName(QWidget *, const QString &initialName, const QString &) {
    lastInitialName = initialName;
    return saveFileAnswer;
}

QStringList ScriptedDialogs::Texts() const {
    QStringList texts;
    for (const ShownBox &box : shown) texts.append(box.text);
    return texts;
}

namespace {

std::vector<SentFrame> sentFrames;
std::function<void(const SentFrame &)> frameObserver;

void UART_CALLBACK_CONV RecordingSend(const char *text) {
    // ':' address function length(2 bytes) payload checksum CR LF, all hex.
    uint16_t position = 1;
    SentFrame frame{};
    uint8_t high = 0, low = 0;
    core::GetHexByte(&frame.address, text, &position);
    core::GetHexByte(&frame.function, text, &position);
    core::GetHexByte(&high, text, &position);
    core::GetHexByte(&low, text, &position);
    frame.length = static_cast<uint16_t>(high << 8 | low);
    frame.payload.resize(frame.length);
    for (uint16_t i = 0; i < frame.length; ++i) core::GetHexByte(&frame.payload[i], text, &position);
    frame.number = frame.Header(0);
    sentFrames.push_back(std::move(frame));
    if (frameObserver) {
        const SentFrame sent = sentFrames.back();  // the observer may send frames of its own
        frameObserver(sent);
    }
    dnclink::LinkSendFrame(text);
}

}  // namespace

uint32_t SentFrame::Header(size_t offset) const {
    if (offset + 4 > payload.size()) return 0xFFFFFFFFu;
    return uint32_t(payload[offset]) << 24 | uint32_t(payload[offset + 1]) << 16 | uint32_t(payload[offset + 2]) << 8 |
           payload[offset + 3];
}

std::string SentFrame::TextFrom(size_t offset) const {
    if (offset >= payload.size()) return {};
    return std::string(payload.begin() + static_cast<long>(offset), payload.end());
}

void SetFrameObserver(std::function<void(const SentFrame &)> observer) { frameObserver = std::move(observer); }

const std::vector<SentFrame> &SentFrames() { return sentFrames; }
void ClearSentFrames() { sentFrames.clear(); }
void RecordSentFrames() {
    ClearSentFrames();
    core::SetUartSendFrameFun(&RecordingSend);
}

std::vector<uint8_t> AddressBookImage(uint8_t linkKind, const std::map<int, std::string> &addresses) {
    std::vector<uint8_t> image(kAddressBookSize, 0);
    image[0] = linkKind;
    for (const auto &[id, text] : addresses) std::memcpy(&image[id * kAddressEntrySize], text.data(), text.size());
    return image;
}

void WriteFileBytes(const QString &path, const std::vector<uint8_t> &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(path));
    file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<qint64>(bytes.size()));
}

std::vector<uint8_t> ReadFileBytes(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray all = file.readAll();
    return std::vector<uint8_t>(all.begin(), all.end());
}

AppFixture::AppFixture(bool sampleTree) : oldDirectory_(QDir::currentPath()) {
    if (!work_.isValid() || !storage_.isValid()) qFatal("no temporary directory");
    QDir::setCurrent(work_.path());
    QStandardPaths::setTestModeEnabled(true);
    qputenv(journal::kPathVariable, JournalFile().toLocal8Bit());
    std::memset(AddressBook, 0, sizeof AddressBook);
    // Each window starts on the serial link unless its address book says otherwise.
    nccmd::Session().Select(nccmd::LinkType::kSerial);
    if (sampleTree && !ncsim::WriteSampleTree(storage_.path().toStdString())) qFatal("no sample tree");
    ncsim::Options options;
    options.root = storage_.path().toStdString();
    simulator = std::make_unique<ncsim::Simulator>(options);
    if (!simulator->StartUdp("127.0.0.1", 0)) qFatal("simulator: %s", simulator->LastError().c_str());
    InstallDialogs(&dialogs);
}

AppFixture::~AppFixture() {
    form.reset();
    SetFrameObserver(nullptr);
    simulator->Stop();
    InstallDialogs(nullptr);
    SetEscapeHeldOverride(nullptr);
    SetAbortRequested(false);
    QDir::setCurrent(oldDirectory_);
}

TForm1 &AppFixture::Open(uint8_t linkKind, std::map<int, std::string> addresses, const QString &serialDevice) {
    WriteFileBytes(WorkPath(QStringLiteral("IpAddr.dat")), AddressBookImage(linkKind, addresses));
    TForm1Options options = Options();
    options.serialDevice = serialDevice;
    form = std::make_unique<TForm1>(options);
    return *form;
}

TForm1Options AppFixture::Options() const {
    TForm1Options options;
    options.udpPort = simulator->UdpPort();
    options.settingsFile = SettingsFile();
    return options;
}

TForm1 &AppFixture::Reopen() {
    form.reset();
    form = std::make_unique<TForm1>(Options());
    return *form;
}

void AppFixture::RestartSimulator(ncsim::Options options) {
    simulator->Stop();
    options.root = storage_.path().toStdString();
    simulator = std::make_unique<ncsim::Simulator>(options);
    if (!simulator->StartUdp("127.0.0.1", 0)) qFatal("simulator: %s", simulator->LastError().c_str());
}

QString AppFixture::StoragePath(const QString &relative) const {
    return relative.isEmpty() ? storage_.path() : storage_.filePath(relative);
}

QString AppFixture::WorkPath(const QString &relative) const {
    return relative.isEmpty() ? work_.path() : work_.filePath(relative);
}

bool ClickItem(TForm1 &form, const QString &caption) {
    const auto found = form.ListView1->findItems(caption, Qt::MatchExactly, kColumnFile);
    if (found.isEmpty()) return false;
    form.ListView1->clearSelection();
    found.first()->setSelected(true);
    form.ListView1Click();
    return true;
}

QStringList ListCaptions(const TForm1 &form) {
    QStringList captions;
    for (int i = 0; i < form.ListView1->topLevelItemCount(); ++i)
        captions.append(form.ListView1->topLevelItem(i)->text(kColumnFile));
    return captions;
}

void WaitIdle(TForm1 &form) {
    if (!QTest::qWaitFor([&form] { return !form.Busy(); }, 60000))
        QTest::qFail("the transfer did not end", __FILE__, __LINE__);
}

uint8_t Download(TForm1 &form, const QString &remotePath) {
    form.ReadNcFile(form.DeviceId, remotePath);
    WaitIdle(form);
    return form.LastTransfer().transfer.code;
}

void OnWindowThread(const std::function<void()> &action) {
    QCoreApplication *app = QCoreApplication::instance();
    if (QThread::currentThread() == app->thread()) action();
    else QMetaObject::invokeMethod(app, action, Qt::BlockingQueuedConnection);
}
