// What the window tests share: a private working directory, a simulated
// controller on a free loopback port serving a folder the test fills, boxes
// answered by script, and a record of every frame the window sends.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "app/dialogs.h"
#include "ncsim/simulator.h"

struct ShownBox {
    QString kind;  // "confirm", "ask", "inform", "error", "unsaved"
    QString title;
    QString text;
};

class ScriptedDialogs final : public Dialogs {
public:
    QList<ShownBox> shown;
    bool confirmAnswer = true;
    // When set, answers the questions (confirm and ask) in place of
    // confirmAnswer, each seeing the box being asked.
    std::function<bool(const ShownBox &)> answer;
    QString openFileAnswer;  // empty: the user cancels
    QString saveFileAnswer;
    QString lastInitialName;  // the name a file dialog was opened with
    UnsavedAnswer unsavedAnswer = UnsavedAnswer::Discard;
    // Called when the unsaved-edits question is asked, before it is answered.
    std::function<void()> onUnsaved;
    std::function<int(QDialog *)> modal = [](QDialog *) { return 2; };

    bool Confirm(QWidget *, const QString &title, const QString &text) override;
    bool Ask(QWidget *, const QString &title, const QString &text) override;
    void Inform(QWidget *, const QString &title, const QString &text) override;
    void Error(QWidget *, const QString &title, const QString &text) override;
    QString OpenFileName(QWidget *, const QString &initialName, const QString &) override;
    QString SaveFileName(QWidget *, const QString &initialName, const QString &) override;
    UnsavedAnswer AskUnsaved(QWidget *, const QString &title, const QString &text) override;
    int ExecModal(QDialog *dialog) override { return modal(dialog); }

    QStringList Texts() const;
};

// One frame as the window sent it.
struct SentFrame {
    uint8_t address;
    uint8_t function;  // 0x24 read, 0x25 write
    uint16_t length;   // payload length
    uint32_t number;   // the first header number (block number)
    std::vector<uint8_t> payload;

    uint32_t Header(size_t offset) const;  // big-endian number at offset
    std::string TextFrom(size_t offset) const;
};

// Called with each frame just before it goes out, on the thread that sends
// it (a DNC run's worker too); null removes it.
void SetFrameObserver(std::function<void(const SentFrame &)> observer);

// Frames sent since the last ClearSentFrames (a failed try that is
// repeated shows up once per try).
const std::vector<SentFrame> &SentFrames();
void ClearSentFrames();
// Puts the recorder between the engine and the link; set-up and the link
// buttons register the plain link again.
void RecordSentFrames();

// Builds a 4040-byte address book image.
std::vector<uint8_t> AddressBookImage(uint8_t linkKind, const std::map<int, std::string> &addresses);
void WriteFileBytes(const QString &path, const std::vector<uint8_t> &bytes);
std::vector<uint8_t> ReadFileBytes(const QString &path);

class AppFixture {
public:
    // Enters a fresh working directory and starts the simulator serving the
    // sample tree (or an empty folder). The window's settings and the
    // journal live in the working directory.
    explicit AppFixture(bool sampleTree = true);
    ~AppFixture();

    // Writes IpAddr.dat (device 1 at the simulator, unless given) and opens
    // the window on it.
    TForm1 &Open(uint8_t linkKind = 1, std::map<int, std::string> addresses = {{1, "127.0.0.1"}},
                 const QString &serialDevice = {});

    // Replaces the simulator by one with these options, serving the same
    // folder on a fresh port; call before Open.
    void RestartSimulator(ncsim::Options options);

    // Opens the window again on the same working directory, settings and
    // journal, as a restart of the program would.
    TForm1 &Reopen();
    TForm1Options Options() const;
    QString SettingsFile() const { return WorkPath(QStringLiteral("dncpanel.conf")); }
    QString JournalFile() const { return WorkPath(QStringLiteral("journal.tsv")); }

    QString StoragePath(const QString &relative = {}) const;
    QString WorkPath(const QString &relative = {}) const;

    ScriptedDialogs dialogs;
    std::unique_ptr<ncsim::Simulator> simulator;
    std::unique_ptr<TForm1> form;

private:
    QString oldDirectory_;
    QTemporaryDir work_;
    QTemporaryDir storage_;
};

// Transfers run on a worker thread: waits, with the window's events going
// on, until the request in progress has ended (a failure is recorded when it
// does not end within a minute).
void WaitIdle(TForm1 &form);
// A download as the window starts it, waited for; its result code.
uint8_t Download(TForm1 &form, const QString &remotePath);
// Runs `action` on the window thread and waits for it: what a test's Escape
// test (called on the transfer's worker) does to the window.
void OnWindowThread(const std::function<void()> &action);

// Selects the item with this caption in ListView1 as a click does.
bool ClickItem(TForm1 &form, const QString &caption);
QStringList ListCaptions(const TForm1 &form);

// The root of the sample tree as the controller lists it.
inline const QStringList kSampleRoot{"DATA", "PRG", "QVT", "O1234.NC"};
