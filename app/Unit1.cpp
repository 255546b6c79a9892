#include "app/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <utility>

#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/address_book.h"
#include "app/app_settings.h"
#include "app/captions.h"
#include "app/dialogs.h"
#include "app/dnc_run.h"
#include "app/escape_key.h"
#include "app/failure_advice.h"
#include "journal/journal.h"
#include "app/journal_view.h"
#include "app/link_cut.h"
#include "link/link_ops.h"
#include "app/message_log.h"
#include "nccmd/nc_protocol.h"
#include "app/request_scope.h"
#include "core/request_engine.h"
#include "nccmd/result_texts.h"
#include "link/serial_link.h"
#include "app/serial_ports.h"
#include "app/transfer_rate.h"
#include "app/transfer_run.h"
#include "link/udp_link.h"

namespace {

constexpr int kComPortCount = 11;        // "COM1".."COM11" come first in CB1
constexpr int kDesignComIndex = 2;       // "COM3"
// How long a run stopped by a closing window may take to end on its own.
constexpr int kDncStopWait = 2000;

TForm1 *linkedForm = nullptr;  // receives the link's messages

// While a request waits on the serial line the window keeps painting and
// the progress bar keeps moving.
// Only on the window's thread: a request made by a worker thread has no
// window events to process.
void ProcessWindowEvents() {
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// May be called from a worker thread later: hand the line over queued.
void LinkEventLine(const dnclink::LinkEvent &event) {
    if (!linkedForm || event.code != dnclink::LinkEventCode::kSendFailed) return;
    const QString line = LinkEventText(event);
    QMetaObject::invokeMethod(
        linkedForm, [line] { if (linkedForm) linkedForm->AddLogLine(line); }, Qt::QueuedConnection);
}

QLabel *NewLabel(QWidget *parent, const char *name, const QString &text) {
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QPushButton *NewButton(QWidget *parent, const char *name, const QString &text, QStyle::StandardPixmap icon) {
    auto *button = new QPushButton(parent->style()->standardIcon(icon), text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QComboBox *NewCombo(QWidget *parent, const char *name, bool editable) {
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(editable);
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

}  // namespace

QString LinkEventText(const dnclink::LinkEvent &event) {
    // The send's own result after the colon: "网络数据发送错误:-1".
    return QStringLiteral("网络数据发送错误:%1").arg(event.result);
}

bool ParseDeviceIdText(const QString &text, int *value) {
    // Leading blanks are accepted, as the framework's conversion does;
    // anything else that is not a decimal integer is refused.
    static const QRegularExpression integer(QStringLiteral("^\\s*[+-]?[0-9]+$"));
    if (!integer.match(text).hasMatch()) return false;
    bool ok = false;
    const int parsed = text.trimmed().toInt(&ok, 10);
    if (!ok) return false;
    *value = parsed;
    return true;
}

TForm1::TForm1(const TForm1Options &options, QWidget *parent) : QMainWindow(parent), options_(options) {
    setObjectName(QStringLiteral("Form1"));
    OpenDialog1.Filter = NcFileFilter();
    EscapeKeyTracker::Install();
    linkedForm = this;
    SetLinkCut(false);
    nccmd::Session::SetIdleHook(&ProcessWindowEvents);
    nccmd::Session::SetEventHandler(&LinkEventLine);
    settings_ = OpenAppSettings(options_.settingsFile);

    BuildControls();
    BuildPopupMenu();
    BuildLayout();
    FillSerialPorts(options_.serialDevice);
    resize(1100, 720);
    RestoreSettings();
    ConnectHandlers();
    ConnectSettings();

    firstStart_ = !QFile::exists(QString::fromLatin1(kAddressBookFile));
    FormCreate();
    PickNetworkOnFirstStart();
    Form2 = new TForm2(this);
    connect(Form2, &TForm2::localSaveRequested, this, [this](QWidget *dialog) { SaveMemoLocally(dialog); });
    Form3 = new TForm3(this);
}

TForm1::~TForm1() {
    // A window destroyed without being closed first still ends its
    // transfer or run before its controls go.
    EndTransferForClose();
    EndDncRunForClose();
    if (linkedForm == this) {
        linkedForm = nullptr;
        nccmd::Session::SetIdleHook(nullptr);
        nccmd::Session::SetEventHandler(nullptr);
    }
}

void TForm1::BuildControls() {
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("Panel"));
    setCentralWidget(central);

    // Design captions; the set-up gives ten of them their English text.
    Label1 = NewLabel(central, "Label1", QStringLiteral("当前目录:"));
    Label2 = NewLabel(central, "Label2", QStringLiteral("设备ID号："));
    Label3 = NewLabel(central, "Label3", QStringLiteral("串口号："));
    Label4 = NewLabel(central, "Label4", QStringLiteral("串口波特率："));
    Label5 = NewLabel(central, "Label5", QStringLiteral("设备ID:"));
    Label6 = NewLabel(central, "Label6", QStringLiteral("到:"));
    Label7 = NewLabel(central, "Label7", QStringLiteral("NCDeviceIP："));
    Label1->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A deep remote path must not widen the window.
    Label1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    CB3 = NewCombo(central, "CB3", true);
    CB3->setEditText(QStringLiteral("1"));
    CB3->setMinimumContentsLength(4);
    CB4 = NewCombo(central, "CB4", true);
    CB4->setEnabled(false);
    CB4->setMinimumContentsLength(15);
    CB1 = NewCombo(central, "CB1", false);
    CB1->setMinimumContentsLength(8);
    CB2 = NewCombo(central, "CB2", false);
    for (const dnclink::BaudRateEntry &rate : dnclink::BaudRateTable) CB2->addItem(QString::fromLatin1(rate.listText));
    CB2->setCurrentIndex(nccmd::kDefaultBaudIndex);

    RB1 = new QRadioButton(QStringLiteral("Com"), central);
    RB1->setObjectName(QStringLiteral("RB1"));
    RB1->setChecked(true);
    RB2 = new QRadioButton(QStringLiteral("Net"), central);
    RB2->setObjectName(QStringLiteral("RB2"));

    BitBtn9 = NewButton(central, "BitBtn9", QStringLiteral("SetIPaddr"), QStyle::SP_DriveNetIcon);
    BitBtn9->setEnabled(false);
    BitBtn7 = NewButton(central, "BitBtn7", QStringLiteral("读远程NC根目录"), QStyle::SP_DirHomeIcon);
    BitBtn8 = NewButton(central, "BitBtn8", QStringLiteral("返回上级目录"), QStyle::SP_FileDialogToParent);
    BitBtn4 = NewButton(central, "BitBtn4", QStringLiteral("上传文件到NC"), QStyle::SP_ArrowUp);
    BitBtn10 = NewButton(central, "BitBtn10", QStringLiteral("另存NC文件为..."), QStyle::SP_DialogSaveButton);
    BitBtn2 = NewButton(central, "BitBtn2", QStringLiteral("搜索设备ID"), QStyle::SP_FileDialogContentsView);
    BitBtn11 = NewButton(central, "BitBtn11", QStringLiteral("启动DNC加工"), QStyle::SP_MediaPlay);
    BitBtn12 = NewButton(central, "BitBtn12", QStringLiteral("停止DNC加工"), QStyle::SP_MediaStop);
    RestartDncButton = NewButton(central, "RestartDncButton", QStringLiteral("Restart DNC from..."),
                                 QStyle::SP_MediaSeekForward);
    BitBtn1 = NewButton(central, "BitBtn1", QStringLiteral("Close"), QStyle::SP_DialogCloseButton);

    Edit1 = new QLineEdit(QStringLiteral("1"), central);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMaximumWidth(60);
    Edit2 = new QLineEdit(QStringLiteral("5"), central);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setMaximumWidth(60);

    ImageList1.images[0] = style()->standardIcon(QStyle::SP_DirIcon);
    ImageList1.images[1] = style()->standardIcon(QStyle::SP_FileIcon);
    ImageList1.images[2] = style()->standardIcon(QStyle::SP_ComputerIcon);

    ListView1 = new QTreeWidget(central);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setColumnCount(3);
    ListView1->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Size"), QStringLiteral("Type")});
    ListView1->headerItem()->setTextAlignment(kColumnSize, Qt::AlignCenter);
    ListView1->headerItem()->setTextAlignment(kColumnType, Qt::AlignCenter);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setColumnWidth(kColumnFile, 170);
    ListView1->setColumnWidth(kColumnSize, 80);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);

    ListView2 = new QTreeWidget(central);
    ListView2->setObjectName(QStringLiteral("ListView2"));
    ListView2->setColumnCount(1);
    ListView2->setHeaderLabels({QStringLiteral("设备ID")});
    ListView2->setRootIsDecorated(false);
    ListView2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView2->setContextMenuPolicy(Qt::CustomContextMenu);

    Memo1 = new QPlainTextEdit(central);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    Memo1->setFont(mono);

    ProgressBar1 = new QProgressBar(central);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);

    GroupBox1 = new QFrame(central);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setFrameShape(QFrame::HLine);
    GroupBox1->setFrameShadow(QFrame::Sunken);
    GroupBox1->setFixedHeight(9);

    MemoTitle = NewLabel(central, "MemoTitle", QString());
    MemoTitle->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    MemoTitle->setTextInteractionFlags(Qt::TextSelectableByMouse);
    MemoState = NewLabel(central, "MemoState", QString());
    MemoState->setStyleSheet(QStringLiteral("QLabel { color: #b00000; font-weight: bold; }"));
    MemoState->setWordWrap(true);
    MemoState->hide();

    Label8 = NewLabel(central, "Label8", QStringLiteral("Net wait:"));
    NetWait = new QSpinBox(central);
    NetWait->setObjectName(QStringLiteral("NetWait"));
    NetWait->setRange(kMinNetWaitMs, kMaxNetWaitMs);
    NetWait->setSuffix(QStringLiteral(" ms"));
    NetWait->setValue(dnclink::kUdpReceiveTimeoutMs);
    NetWait->setToolTip(QStringLiteral("How long a try over the network waits for its answer; raise it for far "
                                       "controllers"));
    Label8->setBuddy(NetWait);
    CheckVerify = new QCheckBox(QStringLiteral("Verify after upload"), central);
    CheckVerify->setObjectName(QStringLiteral("CheckVerify"));
    CheckVerify->setToolTip(QStringLiteral("Read an uploaded or saved-as file back and compare it byte for byte"));

    LogTabs = new QTabWidget(central);
    LogTabs->setObjectName(QStringLiteral("LogTabs"));
    MessageLog1 = new MessageLog(LogTabs);
    JournalView1 = new JournalView(LogTabs);
    LogTabs->addTab(MessageLog1, QStringLiteral("Messages"));
    LogTabs->addTab(JournalView1, QStringLiteral("Journal"));

    StatusBar1 = statusBar();
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(true);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusPanel0->setFixedWidth(300);
    StatusPanel1 = new QLabel(StatusBar1);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel1->setMinimumWidth(50);
    StatusPanel1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusPanel2 = new QLabel(StatusBar1);
    StatusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    StatusPanel2->setMinimumWidth(260);
    ConnectionLine = new QLabel(StatusBar1);
    ConnectionLine->setObjectName(QStringLiteral("ConnectionLine"));
    // As wide as its text: the operation's text beside it gives way first.
    ConnectionLine->setContentsMargins(0, 0, 12, 0);
    StatusBar1->addWidget(ConnectionLine);
    StatusBar1->addWidget(StatusPanel0);
    StatusBar1->addWidget(StatusPanel1, 1);
    StatusBar1->addWidget(StatusPanel2);

    setWindowTitle(CurrentNcPath);
    QApplication::setApplicationDisplayName(QString());
}

void TForm1::BuildPopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto add = [this](const char *name, const QString &text, QStyle::StandardPixmap icon) {
        QAction *action = PopupMenu1->addAction(style()->standardIcon(icon), text);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    N1 = add("N1", QStringLiteral("Read NC System Dir "), QStyle::SP_DirHomeIcon);
    N2 = add("N2", QStringLiteral("Return NC Up Dir"), QStyle::SP_FileDialogToParent);
    PopupMenu1->addSeparator();
    N4 = add("N4", QStringLiteral("Read NC System File"), QStyle::SP_FileIcon);
    N5 = add("N5", QStringLiteral("Delete NC System File"), QStyle::SP_TrashIcon);
    PopupMenu1->addSeparator();
    NC1 = add("NC1", QStringLiteral("Create NC System Dir"), QStyle::SP_FileDialogNewFolder);
    N7 = add("N7", QStringLiteral("Delete NC System Dir"), QStyle::SP_DialogDiscardButton);
}

void TForm1::BuildLayout() {
    QWidget *central = centralWidget();

    auto *top = new QHBoxLayout;
    top->addWidget(Label2);
    top->addWidget(CB3);
    top->addSpacing(12);
    top->addWidget(Label7);
    top->addWidget(CB4);
    top->addSpacing(12);
    top->addWidget(Label3);
    top->addWidget(CB1);
    top->addSpacing(12);
    top->addWidget(Label4);
    top->addWidget(CB2);
    top->addSpacing(12);
    top->addWidget(RB1);
    top->addWidget(RB2);
    top->addWidget(BitBtn9);
    top->addStretch();

    auto *browse = new QHBoxLayout;
    browse->addWidget(BitBtn7);
    browse->addWidget(BitBtn8);
    browse->addWidget(BitBtn4);
    browse->addWidget(BitBtn10);
    browse->addSpacing(12);
    browse->addWidget(Label1, 1);

    // Left column: device search and the DNC run.
    auto *search = new QGroupBox(central);
    auto *searchLayout = new QGridLayout(search);
    searchLayout->addWidget(Label5, 0, 0);
    searchLayout->addWidget(Edit1, 0, 1);
    searchLayout->addWidget(Label6, 0, 2);
    searchLayout->addWidget(Edit2, 0, 3);
    searchLayout->addWidget(BitBtn2, 1, 0, 1, 4);
    searchLayout->addWidget(ListView2, 2, 0, 1, 4);
    searchLayout->addWidget(BitBtn11, 3, 0, 1, 4);
    searchLayout->addWidget(RestartDncButton, 4, 0, 1, 4);
    searchLayout->addWidget(BitBtn12, 5, 0, 1, 4);
    searchLayout->addWidget(Label8, 6, 0, 1, 2);
    searchLayout->addWidget(NetWait, 6, 2, 1, 2);
    searchLayout->addWidget(CheckVerify, 7, 0, 1, 4);
    searchLayout->setRowStretch(2, 1);
    search->setMaximumWidth(230);

    // The memo with the line that says when its text is not whole.
    auto *memoPane = new QWidget(central);
    auto *memoLayout = new QVBoxLayout(memoPane);
    memoLayout->setContentsMargins(0, 0, 0, 0);
    memoLayout->setSpacing(2);
    memoLayout->addWidget(MemoTitle);
    memoLayout->addWidget(MemoState);
    memoLayout->addWidget(Memo1, 1);

    auto *splitter = new QSplitter(Qt::Horizontal, central);
    splitter->setObjectName(QStringLiteral("Splitter"));
    splitter->addWidget(ListView1);
    splitter->addWidget(memoPane);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    splitter->setChildrenCollapsible(false);

    // The message log and the journal under the listing and the memo.
    auto *vertical = new QSplitter(Qt::Vertical, central);
    vertical->setObjectName(QStringLiteral("LogSplitter"));
    vertical->addWidget(splitter);
    vertical->addWidget(LogTabs);
    vertical->setStretchFactor(0, 4);
    vertical->setStretchFactor(1, 1);
    vertical->setChildrenCollapsible(false);
    LogTabs->setMinimumHeight(60);
    ListView1->setMinimumHeight(80);
    Memo1->setMinimumHeight(60);

    auto *middle = new QHBoxLayout;
    middle->addWidget(search);
    middle->addWidget(vertical, 1);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(ProgressBar1, 1);
    bottom->addWidget(BitBtn1);

    auto *layout = new QVBoxLayout(central);
    layout->addLayout(top);
    layout->addWidget(GroupBox1);
    layout->addLayout(browse);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);
}

void TForm1::FillSerialPorts(const QString &extraDevice) {
    for (int port = 1; port <= kComPortCount; ++port) CB1->addItem(QStringLiteral("COM%1").arg(port));
    QStringList devices = ExtraSerialDevices();
    if (!extraDevice.isEmpty() && !devices.contains(extraDevice)) devices.append(extraDevice);
    for (const QString &device : devices) CB1->addItem(device, device);
    CB1->setCurrentIndex(extraDevice.isEmpty() ? kDesignComIndex : CB1->findText(extraDevice));
}

void TForm1::ConnectHandlers() {
    // Runs at every keystroke: the box keeps its focus (no request scope,
    // which would disable it), and CB3 is disabled while a request runs.
    connect(CB3, &QComboBox::editTextChanged, this, [this] {
        if (BeginRequest()) FormCreate();
    });
    connect(CB1, &QComboBox::currentIndexChanged, this, [this] { CB1Change(); });
    connect(CB2, &QComboBox::currentIndexChanged, this, [this] { CB2Change(); });
    // Checking a button that was not checked runs its click handler, also
    // when the set-up checks it.
    connect(RB1, &QRadioButton::toggled, this, [this](bool on) { if (on) RB1Click(); });
    connect(RB2, &QRadioButton::toggled, this, [this](bool on) { if (on) RB2Click(); });
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn9, &QPushButton::clicked, this, &TForm1::BitBtn9Click);
    connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);
    connect(BitBtn8, &QPushButton::clicked, this, &TForm1::BitBtn8Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);
    connect(BitBtn10, &QPushButton::clicked, this, &TForm1::BitBtn10Click);
    connect(ListView1, &QTreeWidget::itemClicked, this, [this] { ListView1Click(); });
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { ListView1DblClick(); });
    connect(N1, &QAction::triggered, this, &TForm1::BitBtn7Click);
    connect(N2, &QAction::triggered, this, &TForm1::BitBtn8Click);
    connect(N4, &QAction::triggered, this, &TForm1::ListView1DblClick);
    connect(N5, &QAction::triggered, this, &TForm1::N5Click);
    connect(NC1, &QAction::triggered, this, &TForm1::NC1Click);
    connect(N7, &QAction::triggered, this, &TForm1::N7Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
    connect(ListView2, &QTreeWidget::itemDoubleClicked, this, [this] { ListView2DblClick(); });
    connect(BitBtn11, &QPushButton::clicked, this, &TForm1::BitBtn11Click);
    connect(BitBtn12, &QPushButton::clicked, this, &TForm1::BitBtn12Click);
    connect(RestartDncButton, &QPushButton::clicked, this, &TForm1::RestartDncClick);
    auto popup = [this](QWidget *view) {
        return [this, view](const QPoint &at) { PopupMenu1->popup(view->mapToGlobal(at)); };
    };
    // A right-click on an empty area of the listing means the folder itself:
    // nothing stays selected, so the menu offers what applies to the folder.
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        if (!ListView1->itemAt(at)) ListView1->clearSelection();
        PopupMenu1->popup(ListView1->viewport()->mapToGlobal(at));
    });
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TForm1::UpdateMenuStates);
    auto *save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, &TForm1::SaveMemo);
    connect(Memo1->document(), &QTextDocument::modificationChanged, this, [this] { ShowMemoSource(); });
    ListView1->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
    ListView1->viewport()->setAcceptDrops(true);
    ListView1->setAcceptDrops(true);
    connect(ListView2, &QWidget::customContextMenuRequested, this, popup(ListView2->viewport()));
}

void TForm1::FormCreate() {
    settingUp_ = true;
    if (CB3->count() == 0) {
        const QString text = CB3->currentText();
        const QSignalBlocker block(CB3);
        for (int id = 1; id <= 100; ++id) CB3->addItem(QString::number(id));
        CB3->setEditText(text);
    }
    LoadAddressBook();

    int id = 0;
    if (!ReadIntegerText(CB3->currentText(), &id)) {
        settingUp_ = false;
        return;
    }
    ip_ = QString::fromLatin1(AddressText(id));
    CB4->setEditText(ip_);

    if (StoredLinkKind() == uint8_t(nccmd::LinkType::kSerial)) {
        RB1->setChecked(true);
        session_.Select(nccmd::LinkType::kSerial);
    } else if (StoredLinkKind() == uint8_t(nccmd::LinkType::kUdp)) {
        RB2->setChecked(true);
        session_.Select(nccmd::LinkType::kUdp);
    }

    // By name, within the form's own controls (the path dialog has a Label2
    // of its own).
    for (const Caption &caption : EnglishCaptions())
        if (QWidget *control = centralWidget()->findChild<QWidget *>(QLatin1String(caption.control)))
            control->setProperty("text", caption.text);

    DeviceId = static_cast<uint8_t>(id);
    nccmd::UdpEndpoint udp;
    udp.address = ip_.toLatin1().toStdString();
    udp.port = options_.udpPort;
    session_.PrepareUdp(udp);
    InitEngineForLink();

    CurrentNcPath = QStringLiteral("\\");
    SelectedFileName.clear();
    // The listing belongs to the device it was read from.
    ListView1->clear();
    ShowPath();
    ShowVerifyForLink();
    lastAnswer_ = QDateTime();
    lastRequestUnanswered_ = false;

    OpenSerialPort(true);
    settingUp_ = false;
}

void TForm1::PickNetworkOnFirstStart() {
    // A first start on a computer without a serial port would otherwise
    // greet the user with a port error for a link nobody can use.
    if (!firstStart_ || session_.Selected() != nccmd::LinkType::kSerial || dnclink::CurrentSerialConfig().open) return;
    if (!options_.serialDevice.isEmpty() || !ExtraSerialDevices().isEmpty()) return;
    RB2->setChecked(true);
    AddLogLine(QStringLiteral("No serial port was found on this computer: the network link is selected."));
}

void TForm1::InitEngineForLink() {
    if (session_.Selected() == nccmd::LinkType::kUdp) session_.SetUdpAddress(ip_.toLatin1().toStdString());
    session_.Wire(DeviceId, nccmd::DefaultTiming(session_.Selected()), &CuttableLinkReceive);
}

bool TForm1::ReadIntegerText(const QString &text, int *value) {
    if (ParseDeviceIdText(text, value)) return true;
    AppDialogs().Error(this, QStringLiteral("dncpanel"), QStringLiteral("'%1' is not a valid integer value.").arg(text));
    return false;
}

void TForm1::OpenSerialPort(bool english) {
    const int index = CB1->currentIndex();
    const int baudIndex = CB2->currentIndex();
    const QString name = index < kComPortCount ? QStringLiteral("COM%1").arg(index + 1) : CB1->itemData(index).toString();
    const bool open = session_.OpenSerial({name.toLocal8Bit().toStdString(), baudIndex});
    const QString baud = QString::fromLatin1(dnclink::BaudRateTable[baudIndex].text);
    if (open) {
        StatusPanel0->setText(english ? QStringLiteral("%1 BaudRate:%2 Data:8").arg(name, baud)
                                      : QStringLiteral("%1 波特率:%2 数据位:8").arg(name, baud));
        StatusPanel0->setToolTip(QString::fromLocal8Bit(dnclink::SerialDevicePath()));
    } else {
        StatusPanel0->setText(english ? QStringLiteral("OPEN %1 Error").arg(name)
                                      : QStringLiteral("打开%1错误").arg(name));
        StatusPanel0->setToolTip(SerialOpenFailureReason(QString::fromLocal8Bit(dnclink::SerialDevicePath()),
                                                         QString::fromLocal8Bit(dnclink::SerialLastError()),
                                                         dnclink::SerialLastErrno()));
    }
    UpdateConnectionLine();
}

void TForm1::CB1Change() {
    if (settingUp_) return;
    OpenSerialPort(false);
}

void TForm1::CB2Change() {
    if (settingUp_) return;
    OpenSerialPort(false);
}

void TForm1::RB1Click() {
    session_.Select(nccmd::LinkType::kSerial);
    BitBtn9->setEnabled(false);
    SetStoredLinkKind(uint8_t(nccmd::LinkType::kSerial));
    SaveAddressBook();
    // The engine's time-out suits one link only: switch it with the link.
    if (!settingUp_) InitEngineForLink();
    lastAnswer_ = QDateTime();
    ShowVerifyForLink();
    UpdateConnectionLine();
}

void TForm1::RB2Click() {
    session_.Select(nccmd::LinkType::kUdp);
    BitBtn9->setEnabled(!busy_);
    SetStoredLinkKind(uint8_t(nccmd::LinkType::kUdp));
    SaveAddressBook();
    if (!settingUp_) InitEngineForLink();
    lastAnswer_ = QDateTime();
    ShowVerifyForLink();
    UpdateConnectionLine();
}

void TForm1::BitBtn1Click() { close(); }

void TForm1::BitBtn9Click() {
    if (!BeginRequest()) return;
    if (AppDialogs().ExecModal(Form3) != QDialog::Accepted) return;
    // An address just given takes effect at once: a device that had none
    // can be reached without choosing it again first.
    ip_ = QString::fromLatin1(AddressText(DeviceId));
    CB4->setEditText(ip_);
    session_.SetUdpAddress(ip_.toLatin1().toStdString());
    UpdateConnectionLine();
}

void TForm1::ShowPendingReports() {
    if (dnc_) dnc_->queue->RunPending();
    if (transfer_) transfer_->queue->RunPending();
}

void TForm1::closeEvent(QCloseEvent *event) {
    // The question names the latest block, and a run that has just ended is
    // no longer asked about.
    ShowPendingReports();
    if (dnc_ && dnc_->programChosen) {
        // A run is streaming: the user decides, and the run ends the way
        // Stop ends it, journal line included, before the window closes.
        event->ignore();
        if (dncClosing_) return;
        if (!AppDialogs().Ask(this, QStringLiteral("Close during a DNC run"), DncCloseQuestion())) return;
        dncClosing_ = true;
        BitBtn12Click();
        // A controller that keeps answering "busy" to the abort block would
        // hold the run for ever: past the stop's wait the link is cut, and
        // the engine's own time-out and retries end the run.
        QTimer::singleShot(kDncStopWait, this, [this] {
            if (dnc_ && dncClosing_) SetLinkCut(true);
        });
        return;
    }
    if (transfer_) {
        // As during a DNC run: the user decides, and the transfer ends the
        // way Esc ends it, journal line included, before the window closes.
        event->ignore();
        if (closePending_) return;
        if (!AppDialogs().Ask(this, QStringLiteral("Close during a transfer"), TransferCloseQuestion())) return;
        closePending_ = true;
        transfer_->RequestAbort();
        StatusPanel1->setText(QStringLiteral("Closing after the running operation ends..."));
        return;
    }
    if (!busy_ && !dnc_ && !ConfirmDiscardMemo()) {
        event->ignore();
        return;
    }
    if (busy_) {
        // A listing or command is waiting inside this handler's call chain:
        // close once it has returned.
        closePending_ = true;
        SetAbortRequested(true);
        StatusPanel1->setText(QStringLiteral("Closing after the running operation ends..."));
        event->ignore();
        return;
    }
    // The run ends before the port goes; a worker that would not end keeps
    // the port it is still using.
    if (EndDncRunForClose()) session_.Close();  // FormClose
    settings_->setValue(settings_keys::kGeometry, saveGeometry());
    event->accept();
}

bool TForm1::BeginRequest() {
    // The engine serves one request at a time: a request started now would
    // be mixed into the run's stream.
    if (dnc_) {
        StatusPanel1->setText(DncRunningRefusalText());
        return false;
    }
    if (!busy_) return true;
    StatusPanel1->setText(QStringLiteral("Busy: wait until the running operation ends (Esc aborts a transfer)"));
    return false;
}

void TForm1::SetRequestControlsEnabled(bool enabled) {
    // Changing the device, port or link under a running request would pull
    // the link away from it.
    CB3->setEnabled(enabled);
    CB1->setEnabled(enabled);
    CB2->setEnabled(enabled);
    RB1->setEnabled(enabled);
    RB2->setEnabled(enabled);
    BitBtn9->setEnabled(enabled && session_.Selected() == nccmd::LinkType::kUdp);
    // The network wait belongs to the link a worker may be using.
    NetWait->setEnabled(enabled);
}

void TForm1::ShowResultCode(uint8_t code) {
    const QString text = QString::fromUtf8(nccmd::ResultCodeText(code));
    StatusPanel1->setText(text);
    NoteResult(code);
    if (code != 0) AddLogLine(text + QStringLiteral(": ") + FailureExplanation(code));
}

QString TForm1::FailureExplanation(uint8_t code) const {
    LinkContext link;
    link.network = session_.Selected() == nccmd::LinkType::kUdp;
    link.deviceId = DeviceId;
    link.where = LinkAddressText();
    link.tries = session_.CurrentTiming().retries + 1;
    link.waitMs = link.network ? session_.UdpWait() : session_.CurrentTiming().timeout;
    return FailureAdvice(code, link);
}

QString TForm1::StatusText(int panel) const { return panel == 0 ? StatusPanel0->text() : StatusPanel1->text(); }

QString TForm1::ListingRequest() const { return QString::fromLatin1(nccmd::kDirListWord.data(), nccmd::kDirListWord.size()) + CurrentNcPath; }

void TForm1::ShowPath() {
    Label1->setText(ListingRequest());
    Label1->setToolTip(Label1->text());
    ShowMemoSource();
}

void TForm1::AddLogLine(const QString &line) { MessageLog1->AddLine(line); }

void TForm1::ShowRate(uint64_t done, uint64_t total) {
    if (!rate_ || done == 0) {
        rate_ = std::make_unique<TransferRate>();
        rate_->Start();
        endNoteShown_ = false;
    }
    StatusPanel2->setText(rate_->Text(done, total));
}

void TForm1::ClearRate() {
    rate_.reset();
    // Where the last transfer stopped stays in view until the next one.
    if (!endNoteShown_) StatusPanel2->clear();
}

void TForm1::ShowEndNote(const QString &text) {
    rate_.reset();
    endNoteShown_ = true;
    StatusPanel2->setText(text);
    StatusPanel2->setToolTip(text);
}
