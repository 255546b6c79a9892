// TForm1: the main window. It owns which controller is addressed (DeviceId),
// which link carries the frames, the serial port settings and the browsing
// state, and runs every command on the window thread inside the handler of
// the control that starts it.
#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>

#include "listing_view.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTreeWidget;
class TForm2;
class TForm3;

// The file-open dialog: design values at start; FileName then follows the
// file the user chose last.
struct OpenDialogSettings {
    QString FileName = QStringLiteral("DROPGLUE.CNC");
    QString Filter;  // all files, .cnc files, .nc files
};

struct TForm1Options {
    // A serial device to offer and select in CB1 (a pseudo-terminal too).
    QString serialDevice;
    // Non-zero: the controller's UDP port after every preparation of the
    // link (the demo mode's simulator listens on a free port).
    uint16_t udpPort = 0;
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
    QTreeWidget *ListView1, *ListView2;
    QPlainTextEdit *Memo1;
    QLineEdit *Edit1, *Edit2;
    QProgressBar *ProgressBar1;
    QStatusBar *StatusBar1;
    QLabel *StatusPanel0, *StatusPanel1;  // the status bar's panels 0 and 1
    QMenu *PopupMenu1;
    QAction *N1, *N2, *N4, *N5, *NC1, *N7;
    QFrame *GroupBox1;
    OpenDialogSettings OpenDialog1;
    ImageList ImageList1;
    TForm2 *Form2 = nullptr;
    TForm3 *Form3 = nullptr;

    // Window state.
    uint8_t DeviceId = 0;
    QString CurrentNcPath = QStringLiteral("\\");
    QString SelectedFileName;

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

    // Transfers.
    uint8_t ReadNcFile(uint8_t deviceId, const QString &remotePath);
    void BitBtn4Click();
    void BitBtn10Click();

    void ShowResultCode(uint8_t code);
    QString StatusText(int panel) const;

    // True while a request is in progress; request actions are refused then.
    bool Busy() const { return busy_; }

    // The listing request of the current path, "%DirList%%" + path.
    QString ListingRequest() const;

    // A line for the memo (the network link's send and receive errors).
    void AppendMemoLine(const QString &line);

protected:
    void closeEvent(QCloseEvent *event) override;

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
    void ShowTransferStatus();
    // Refuses, with an error box, a path that is empty or longer than limit
    // GBK bytes, before anything is sent.
    bool CheckRemotePath(const QString &path, int limit, const QString &what);
    void FlushMemoLines();

    TForm1Options options_;
    bool busy_ = false;
    bool settingUp_ = false;
    bool closePending_ = false;
    bool downloading_ = false;
    QStringList pendingMemoLines_;
    QString ip_;
};

// Most characters the link texts may hold (GBK bytes, terminating zero not
// counted): a directory path and a remote file path.
inline constexpr int kMaxNcPathLength = 501;
inline constexpr int kMaxRemotePathLength = 99;

// The transfer status text of panel 1, and what it shows after an abort
// the controller accepted.
QString TransferStatusText();
QString TransferAbortedText();

// Parses a device ID as the framework's string-to-integer conversion does;
// false for anything that is not a decimal integer.
bool ParseDeviceIdText(const QString &text, int *value);
