// TForm1: the main window. It owns which controller is addressed (DeviceId),
// which link carries the frames, the serial port settings and the browsing
// state. Transfers and the DNC run go on a worker thread each and reach the
// controls through a queue; the listing, file management and the device
// search run on the window thread inside the handler that starts them.
#pragma once

#include <QDateTime>
#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/listing_view.h"
#include "app/transfer_flow.h"
#include "nccmd/session.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSettings;
class QSpinBox;
class QStatusBar;
class QTabWidget;
class QTreeWidget;
class JournalView;
class MessageLog;
class TForm2;
class TForm3;
class DncRun;
struct DncRestartJob;
class TransferRate;

// The file-open dialog: design values at start; FileName then follows the
// file the user chose last.
struct OpenDialogSettings {
    QString FileName = QStringLiteral("DROPGLUE.CNC");
    QString Filter;  // all files, .cnc files, .nc files
};

// Where the memo's text came from: Ctrl+S writes it back there, and the
// pane's line and the window title name it.
struct MemoSource {
    enum Kind { kNone, kRemote, kLocal, kDncView };
    Kind kind = kNone;
    uint8_t deviceId = 0;  // kRemote, kDncView: the device it came from or went to
    QString path;          // remote path, local file, or the streamed program
    // Empty while the text is a whole program; otherwise why it is not (an
    // unfinished download, the view of a DNC run).
    QString partNote;
};

struct TForm1Options {
    // A serial device to offer and select in CB1 (a pseudo-terminal too).
    QString serialDevice;
    // Non-zero: the controller's UDP port after every preparation of the
    // link (the demo mode's simulator listens on a free port).
    uint16_t udpPort = 0;
    // The settings file to remember things in (INI); empty: the user's
    // settings in the platform's usual place.
    QString settingsFile;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(const TForm1Options &options = {}, QWidget *parent = nullptr);
    ~TForm1() override;

    // Controls, under their form names.
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7;
    QComboBox *CB1, *CB2, *CB3, *CB4;
    QPushButton *BitBtn1, *BitBtn2, *BitBtn4, *BitBtn7, *BitBtn8, *BitBtn9, *BitBtn10, *BitBtn11, *BitBtn12;
    QRadioButton *RB1, *RB2;
    QPushButton *RestartDncButton;  // "Restart DNC from...", beside BitBtn11
    QTreeWidget *ListView1, *ListView2;
    QPlainTextEdit *Memo1;
    QLineEdit *Edit1, *Edit2;
    QProgressBar *ProgressBar1;
    QStatusBar *StatusBar1;
    QLabel *StatusPanel0, *StatusPanel1;  // the status bar's panels 0 and 1
    // Panel 2: blocks done of all, bytes per second and time left while a
    // transfer or a DNC run moves data; empty otherwise.
    QLabel *StatusPanel2;
    QMenu *PopupMenu1;
    QAction *N1, *N2, *N4, *N5, *NC1, *N7;
    QFrame *GroupBox1;
    // Over the memo: where its text came from, with a modified mark.
    QLabel *MemoTitle;
    // Over the memo: says when its text is not a whole program.
    QLabel *MemoState;
    // In the status bar: link, device, address and the last answer's time.
    QLabel *ConnectionLine;
    // The network wait in milliseconds, remembered.
    QLabel *Label8;
    QSpinBox *NetWait;
    // Read an uploaded or saved-as file back and compare it, remembered.
    QCheckBox *CheckVerify;
    // Beside the memo: the message log and the transfer journal.
    QTabWidget *LogTabs;
    MessageLog *MessageLog1;
    JournalView *JournalView1;
    OpenDialogSettings OpenDialog1;
    ImageList ImageList1;
    TForm2 *Form2 = nullptr;
    TForm3 *Form3 = nullptr;

    // Window state.
    uint8_t DeviceId = 0;
    QString CurrentNcPath = QStringLiteral("\\");
    QString SelectedFileName;

    // The link that carries the frames, the network address and the
    // engine's timing, as the set-up and the link buttons left them.
    const nccmd::Session &Connection() const { return session_; }

    // Set-up and link selection.
    void FormCreate();
    void CB1Change();
    void CB2Change();
    void RB1Click();
    void RB2Click();
    void BitBtn1Click();
    void BitBtn9Click();

    // Remote browser.
    uint8_t ReadNcDirectory(uint8_t deviceId, const QString &request);
    void BitBtn7Click();
    void BitBtn8Click();
    void ListView1Click();
    void ListView1DblClick();

    // Transfers. Each starts on its worker and returns at once; Busy() stays
    // true until it has ended, and LastTransfer() then says how.
    void ReadNcFile(uint8_t deviceId, const QString &remotePath);
    const TransferOutcome &LastTransfer() const { return lastTransfer_; }
    void BitBtn4Click();
    void BitBtn10Click();

    // Remote file and directory management (popup menu).
    void N5Click();
    void NC1Click();
    void N7Click();

    // Device search and selection.
    void BitBtn2Click();
    void ListView2DblClick();

    // DNC run: Start and Stop.
    void BitBtn11Click();
    void BitBtn12Click();
    // True from Start until the run's worker has ended.
    bool DncRunning() const { return dnc_ != nullptr; }
    // A DNC run from a line of a program, chosen in the restart dialog.
    void RestartDncClick();

    void ShowResultCode(uint8_t code);
    QString StatusText(int panel) const;

    // True while a request is in progress; request actions are refused then.
    bool Busy() const { return busy_; }
    // Shows now what a running worker has reported so far (its calls wait
    // for their turn behind the window's timers); for code about to read
    // the window's picture of the run.
    void ShowPendingReports();

    // The listing request of the current path, "%DirList%%" + path.
    QString ListingRequest() const;

    // A line for the message log (the network link's send errors and the
    // window's own notes); never for the memo.
    void AddLogLine(const QString &line);

    // The memo holds only part of a program (an aborted or failed download,
    // the view of a DNC run).
    bool MemoIncomplete() const { return !memoSource_.partNote.isEmpty(); }
    const MemoSource &Source() const { return memoSource_; }
    // Ctrl+S: writes the memo back where it came from, through the same
    // questions and refusals as Save As; a text from nowhere goes to Save As.
    void SaveMemo();
    // The popup menu's items enabled as they apply to the selection.
    void UpdateMenuStates();
    // The connection line's text, and the time of the last answer.
    QString ConnectionText() const;
    // What a failure means and what to check, for the message log.
    QString FailureExplanation(uint8_t code) const;
    // Saves the memo to a local file the user picks, asking first when its
    // text is incomplete. True when the file was written.
    bool SaveMemoLocally(QWidget *parent);
    // Before the memo's text is replaced: true when it holds no unsaved
    // edits, or the user saved them locally or chose to discard them.
    bool ConfirmDiscardMemo();

    // F5: reads the current folder again.
    void RefreshListing();
    // Uploads local files into the current folder, one after the other,
    // each through the path dialog; a cancelled dialog ends the rest.
    void UploadLocalFiles(const QStringList &files);

    // Where the journal is read and written.
    QString JournalFile() const;
    // The folder the file dialogs open in.
    QString LocalFolder() const;
    void RememberLocalFile(const QString &file);
    QSettings &Settings() const { return *settings_; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class RequestScope;
    friend class RequestScope;

    void BuildControls();
    void BuildLayout();
    void BuildPopupMenu();
    void ConnectHandlers();
    void FillSerialPorts(const QString &extraDevice);

    bool BeginRequest();  // false (and the user is told) while one runs
    void SetRequestControlsEnabled(bool enabled);
    void InitEngineForLink();
    void OpenSerialPort(bool english);
    void ShowPath();
    // Refuses, with an error box, a path that is empty or longer than limit
    // GBK bytes, before anything is sent.
    bool CheckRemotePath(const QString &path, int limit, const QString &what);
    // Remembered settings: read before the first set-up, written as they change.
    void RestoreSettings();
    void ConnectSettings();
    void SetMemoSource(const MemoSource &source);
    // The pane's line and the window title after the path, the source or the
    // modified state changed.
    void ShowMemoSource();
    void UpdateConnectionLine();
    // A request's result as the link saw it: the device answered, or not.
    void NoteResult(uint8_t code);
    // "127.0.0.1:2232" or "/dev/ttyS2 at 115200 baud".
    QString LinkAddressText() const;
    // Before the memo goes to the controller as remotePath: refuses the
    // controller's system names, asks about a text that is not a whole
    // program and about a file the listing shows. True to go on.
    bool ControllerWriteAllowed(const QString &remotePath, qsizetype bytes);
    // Refuses, with an error box, a path whose last part is one of the
    // controller's system names. True when refused.
    bool RefusedSystemName(const QString &remotePath);
    // The memo to remotePath on the controller, after the path checks and
    // every question; Save As and Ctrl+S.
    void SaveMemoToController(const QString &remotePath);
    bool WriteMemoToLocalFile(const QString &file, QWidget *parent);
    // Panel 2's note of a transfer or run that ended before its end; stays
    // until the next transfer starts.
    void ShowEndNote(const QString &text);
    // The listing read again after a storage command: an error when it
    // contradicts the controller's success answer. Empty when it agrees.
    QString ListingContradiction(const QString &name, int type, bool shouldExist) const;
    void ShowVerifyForLink();
    void PickNetworkOnFirstStart();
    // Keys on the listing and files dropped on it (Unit1_keys.cpp).
    bool ListingKey(int key);
    bool ListingDrop(QEvent *event);
    // A transfer on its worker (app/transfer_run.h), whom it addresses, its
    // start and its end on the window thread.
    class TransferRun;
    friend class TransferRun;
    TransferTarget CurrentTransferTarget() const;
    // Starts `job` on a worker; `finished` runs on the window thread once it
    // has ended, unless the window is closing. False (and the status says
    // why) when no thread could start.
    bool StartTransfer(const QString &what, TransferTarget target, std::function<TransferOutcome(TransferFlow &)> job,
                       std::function<void(const TransferOutcome &)> finished);
    void TransferEnded();  // the worker's last action
    // The question asked when the window closes during a transfer.
    QString TransferCloseQuestion() const;
    // As EndDncRunForClose, for a transfer.
    bool EndTransferForClose();
    // One upload of a local file; false when the user cancelled the path
    // dialog or a check refused it, else `finished` follows its end.
    bool UploadLocalFile(const QString &localFile, std::function<void(const TransferOutcome &)> finished);
    // One line in the transfer journal; a failure is noted in the log.
    void WriteJournal(const char *operation, const QString &remotePath, const QString &localFile, bool hasData,
                      uint64_t bytes, const std::string &sha256, const QString &result);
    // Reads a decimal integer as the framework's conversion does; shows the
    // framework's conversion error (and gives false) for anything else.
    bool ReadIntegerText(const QString &text, int *value);
    // Sends a management command text, then refreshes the listing, which
    // must show `name` (of the item type) or not, as shouldExist says.
    void SendStorageCommand(uint8_t (*command)(uint8_t, const char *), const QString &text, const char *operation,
                            const QString &name, int type, bool shouldExist);
    // Refuses, with an error box, a command text that is not GBK or longer
    // than the request's text room.
    bool CheckCommandText(const QString &text);

    // The rate panel: a transfer restarts it with done 0.
    void ShowRate(uint64_t done, uint64_t total);
    void ClearRate();

    // DNC run, window side (Unit1_dnc.cpp).
    friend class DncRun;
    void DncEnded();      // the worker's last action
    // The question asked when the window closes during a run.
    QString DncCloseQuestion() const;
    void FinishDncRun();  // the window free again, BitBtn11 enabled
    // Start's work once the program is settled: the memo, the controls and
    // the worker; with `restart`, the run sends its stream.
    void StartDncRun(std::shared_ptr<const DncRestartJob> restart);
    void SetDncStartEnabled(bool enabled);
    // The restart's program file, or nothing when a box said why not.
    std::optional<std::string> ReadRestartProgram(const QString &path);
    // Stops a run for good before the window or the link goes away: the
    // stop, a bounded wait, then the link cut under the worker if it still
    // runs. Nothing of the worker reaches the window afterwards. False when
    // the worker still had not ended: it keeps using the link.
    bool EndDncRunForClose();

    TForm1Options options_;
    bool busy_ = false;
    bool settingUp_ = false;
    bool closePending_ = false;
    bool downloading_ = false;
    bool dncClosing_ = false;   // the user chose to close: the run stops, then the window closes
    bool firstStart_ = false;   // no address book yet when the window opened
    bool endNoteShown_ = false;
    // The connection to the addressed controller: both links stay ready,
    // the radio buttons choose the one that carries the frames.
    nccmd::Session session_;
    QDateTime lastAnswer_;
    bool lastRequestUnanswered_ = false;
    MemoSource memoSource_;
    std::unique_ptr<QSettings> settings_;
    QString ip_;
    std::unique_ptr<TransferRate> rate_;
    std::unique_ptr<DncRun> dnc_;  // the one run, from Start until its worker ended
    std::unique_ptr<TransferRun> transfer_;  // the one transfer, until its worker ended
    TransferOutcome lastTransfer_;
    // Where the last DNC run stopped in its program file, offered by the
    // restart dialog while the file is as it was then.
    struct DncStopPoint {
        QString path;
        uint64_t programByte = 0;
        qint64 size = -1;
        QDateTime modified;
    } lastDncStop_;
};

// Most characters the link texts may hold (GBK bytes, terminating zero not
// counted): a directory path and a remote file path.
inline constexpr int kMaxNcPathLength = 501;
inline constexpr int kMaxRemotePathLength = 99;

// The message log's line for what the link reported.
QString LinkEventText(const dnclink::LinkEvent &event);
// Panel 1 when a request is refused because a DNC run is streaming.
QString DncRunningRefusalText();

// Asks before the incomplete text of `form`'s memo is written anywhere;
// true when it is whole or the user said yes.
bool IncompleteWriteConfirmed(TForm1 &form, QWidget *parent);

// Parses a device ID as the framework's string-to-integer conversion does;
// false for anything that is not a decimal integer.
bool ParseDeviceIdText(const QString &text, int *value);
