#include "app/restart_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/dialogs.h"
#include "app/gbk_text.h"

namespace {

// Lines of the program shown after the opening and the preamble.
constexpr size_t kPreviewProgramLines = 10;

QString Text(const std::string &bytes) { return FromGbk(QByteArray::fromStdString(bytes)); }

QPlainTextEdit *NewTextBox(QWidget *parent, const char *name, bool readOnly) {
    auto *box = new QPlainTextEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setReadOnly(readOnly);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return box;
}

}  // namespace

RestartDialog::RestartDialog(RestartDialogInput input, QWidget *parent) : QDialog(parent), input_(std::move(input)) {
    setObjectName(QStringLiteral("RestartDialog"));
    setWindowTitle(QStringLiteral("Restart DNC from..."));
    const std::vector<nccmd::ProgramLine> lines = nccmd::SplitProgramLines(input_.program);
    const std::vector<nccmd::ToolChange> toolChanges = nccmd::FindToolChanges(input_.program, lines);

    auto *program = new QLabel(QStringLiteral("Program: %1 (%2 lines, %3 bytes)")
                                   .arg(input_.path)
                                   .arg(lines.size())
                                   .arg(input_.program.size()),
                               this);
    program->setObjectName(QStringLiteral("ProgramLabel"));
    program->setTextInteractionFlags(Qt::TextSelectableByMouse);

    StopOffer = new QLabel(this);
    StopOffer->setObjectName(QStringLiteral("StopOffer"));
    StoppedLine = new QPushButton(this);
    StoppedLine->setObjectName(QStringLiteral("StoppedLine"));
    StoppedToolChange = new QPushButton(this);
    StoppedToolChange->setObjectName(QStringLiteral("StoppedToolChange"));
    auto *offer = new QHBoxLayout;
    offer->addWidget(StopOffer, 1);
    offer->addWidget(StoppedLine);
    offer->addWidget(StoppedToolChange);
    StopOffer->hide();
    StoppedLine->hide();
    StoppedToolChange->hide();
    // The point offered first: the tool change before where the last run
    // stopped, else that line, else the first tool change, else line 1.
    int firstFrom = toolChanges.empty() ? kFromLine : kFromToolChange;
    long long firstNumber = 1;
    if (input_.stoppedAt) {
        const nccmd::ResumePoint point = nccmd::ResumePointAt(input_.program, *input_.stoppedAt);
        if (point.line > 0) {
            StopOffer->setText(QStringLiteral("The last run of this program stopped on line %1; the controller may "
                                              "not have machined all it took.")
                                   .arg(point.line));
            StoppedLine->setText(QStringLiteral("From line %1").arg(point.line));
            connect(StoppedLine, &QPushButton::clicked, this,
                    [this, line = point.line] { ChoosePoint(kFromLine, static_cast<long long>(line)); });
            StopOffer->show();
            StoppedLine->show();
            firstFrom = kFromLine;
            firstNumber = static_cast<long long>(point.line);
            if (point.toolChange > 0) {
                firstFrom = kFromToolChange;
                firstNumber = static_cast<long long>(point.toolChange);
                StoppedToolChange->setText(QStringLiteral("From tool change %1 (line %2)")
                                               .arg(point.toolChange)
                                               .arg(point.toolChangeLine));
                connect(StoppedToolChange, &QPushButton::clicked, this, [this, k = point.toolChange] {
                    ChoosePoint(kFromToolChange, static_cast<long long>(k));
                });
                StoppedToolChange->show();
            }
        }
    }

    ToolChanges = new QListWidget(this);
    ToolChanges->setObjectName(QStringLiteral("ToolChanges"));
    for (size_t i = 0; i < toolChanges.size(); ++i) {
        const nccmd::ToolChange &change = toolChanges[i];
        ToolChanges->addItem(QStringLiteral("%1. line %2, T%3:  %4")
                                 .arg(i + 1)
                                 .arg(change.line)
                                 .arg(QString::fromStdString(change.tool),
                                      Text(std::string(nccmd::LineText(input_.program, lines[change.line - 1])))));
    }
    // Choosing a tool change makes it the restart point.
    connect(ToolChanges, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && !settingPoint_) ChoosePoint(kFromToolChange, row + 1);
    });

    From = new QComboBox(this);
    From->setObjectName(QStringLiteral("From"));
    From->addItems({QStringLiteral("Line"), QStringLiteral("Tool change"), QStringLiteral("Block (N word)")});
    Number = new QLineEdit(this);
    Number->setObjectName(QStringLiteral("Number"));
    Number->setMaximumWidth(110);
    connect(From, &QComboBox::currentIndexChanged, this, [this] {
        if (!settingPoint_) PointChanged();
    });
    connect(Number, &QLineEdit::textChanged, this, [this] {
        if (!settingPoint_) PointChanged();
    });

    Preamble = NewTextBox(this, "Preamble", false);
    ComputedPreamble = new QPushButton(QStringLiteral("Computed preamble"), this);
    ComputedPreamble->setObjectName(QStringLiteral("ComputedPreamble"));
    ComputedPreamble->setToolTip(QStringLiteral("Put back the preamble computed for this restart point"));
    connect(ComputedPreamble, &QPushButton::clicked, this, &RestartDialog::PointChanged);
    connect(Preamble, &QPlainTextEdit::textChanged, this, [this] {
        if (!settingPoint_) Replan();
    });
    Warnings = NewTextBox(this, "Warnings", true);
    Warnings->setMaximumHeight(90);
    PreviewTitle = new QLabel(this);
    PreviewTitle->setObjectName(QStringLiteral("PreviewTitle"));
    Preview = NewTextBox(this, "Preview", true);
    Message = new QLabel(this);
    Message->setObjectName(QStringLiteral("Message"));
    Message->setWordWrap(true);
    Message->setStyleSheet(QStringLiteral("color: #b00000"));

    auto *buttons = new QDialogButtonBox(this);
    StartButton = buttons->addButton(QStringLiteral("Start restart"), QDialogButtonBox::AcceptRole);
    StartButton->setObjectName(QStringLiteral("StartButton"));
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &RestartDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RestartDialog::reject);

    auto *point = new QHBoxLayout;
    point->addWidget(new QLabel(QStringLiteral("Restart from"), this));
    point->addWidget(From);
    point->addWidget(Number);
    point->addStretch(1);
    point->addWidget(ComputedPreamble);

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Tool changes (M06)"), this), 0, 0);
    grid->addWidget(ToolChanges, 1, 0, 3, 1);
    grid->addLayout(point, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Preamble, sent after the program's opening (add a safe retract and "
                                              "approach here):"),
                               this),
                    1, 1);
    grid->addWidget(Preamble, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Warnings: lines before the restart line the scan did not understand"),
                               this),
                    4, 0, 1, 2);
    grid->addWidget(Warnings, 5, 0, 1, 2);
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(1, 3);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(program);
    layout->addLayout(offer);
    layout->addLayout(grid, 2);
    layout->addWidget(PreviewTitle);
    layout->addWidget(Preview, 2);
    layout->addWidget(Message);
    layout->addWidget(buttons);
    resize(860, 660);

    ChoosePoint(firstFrom, firstNumber);
}

void RestartDialog::ChoosePoint(int from, long long number) {
    settingPoint_ = true;
    From->setCurrentIndex(from);
    Number->setText(QString::number(number));
    settingPoint_ = false;
    PointChanged();
}

bool RestartDialog::Request(nccmd::RestartRequest *request, QString *problem) const {
    bool ok = false;
    const long long number = Number->text().trimmed().toLongLong(&ok);
    if (!ok) {
        *problem = QStringLiteral("Type the number of a %1.").arg(From->currentText().toLower());
        return false;
    }
    request->from = From->currentIndex() == kFromToolChange ? nccmd::RestartFrom::kToolChange
                    : From->currentIndex() == kFromBlock    ? nccmd::RestartFrom::kBlockNumber
                                                            : nccmd::RestartFrom::kLine;
    request->number = number;
    // The box's lines as they are sent; the empty line under a last line
    // break is only where the cursor goes.
    QStringList lines = Preamble->toPlainText().split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    std::vector<std::string> preamble;
    for (const QString &line : lines) {
        if (const QString character = FirstNonGbkCharacter(line); !character.isEmpty()) {
            *problem = NonGbkRefusal(QStringLiteral("preamble"), character);
            return false;
        }
        preamble.push_back(ToGbk(line).toStdString());
    }
    request->preamble = std::move(preamble);
    return true;
}

void RestartDialog::PointChanged() {
    nccmd::RestartRequest request;
    QString problem;
    std::vector<std::string> computed;
    if (Request(&request, &problem)) {
        request.preamble.reset();
        computed = nccmd::PlanRestart(input_.program, request).computedPreamble;
    }
    QString text;
    for (const std::string &line : computed) text += Text(line) + QLatin1Char('\n');
    settingPoint_ = true;
    Preamble->setPlainText(text);
    // The list follows a tool change typed into the box.
    const bool tool = From->currentIndex() == kFromToolChange;
    const int row = tool ? Number->text().toInt() - 1 : -1;
    ToolChanges->setCurrentRow(row >= 0 && row < ToolChanges->count() ? row : -1);
    settingPoint_ = false;
    Replan();
}

void RestartDialog::Replan() {
    nccmd::RestartRequest request;
    QString problem;
    result_ = {};
    planned_ = false;
    if (!Request(&request, &problem)) {
        ShowPlan({});
        Message->setText(problem);
        StartButton->setEnabled(false);
        return;
    }
    result_.request = request;
    result_.plan = nccmd::PlanRestart(input_.program, request);
    planned_ = true;
    if (result_.plan.error == nccmd::RestartError::kEmptyPreamble) {
        // Shown as it would go, and asked about at the start.
        nccmd::RestartRequest confirmed = request;
        confirmed.emptyPreambleConfirmed = true;
        ShowPlan(nccmd::PlanRestart(input_.program, confirmed));
        Message->setText(QString::fromStdString(result_.plan.message) +
                         QStringLiteral(". Start asks before sending it without a preamble."));
        StartButton->setEnabled(true);
        return;
    }
    ShowPlan(result_.plan);
    Message->setText(result_.plan.Ok() ? QString() : QString::fromStdString(result_.plan.message));
    StartButton->setEnabled(result_.plan.Ok());
}

void RestartDialog::ShowPlan(const nccmd::RestartPlan &plan) {
    QString warnings;
    for (const nccmd::ScanWarning &w : plan.warnings) {
        warnings += QStringLiteral("line %1 (%2): %3\n")
                        .arg(w.line)
                        .arg(Text(w.text), QString::fromStdString(w.reason));
    }
    for (const std::string &note : plan.notes) warnings += QStringLiteral("note: %1\n").arg(QString::fromStdString(note));
    Warnings->setPlainText(warnings);
    if (!plan.Ok()) {
        PreviewTitle->setText(QStringLiteral("Nothing to send"));
        Preview->clear();
        return;
    }
    // The opening and the preamble, then the program's first lines from
    // the restart line on.
    const std::vector<nccmd::ProgramLine> lines = nccmd::SplitProgramLines(plan.stream);
    const size_t ahead = nccmd::LineOfOffset(lines, plan.openingBytes + plan.preambleBytes) - 1;
    const size_t shown = std::min(lines.size(), ahead + kPreviewProgramLines);
    QString preview;
    for (size_t i = 0; i < shown; ++i) {
        preview += Text(std::string(nccmd::LineText(plan.stream, lines[i]))) + QLatin1Char('\n');
    }
    Preview->setPlainText(preview);
    QString title = QStringLiteral("First %1 of the %2 lines to be sent (%3 bytes, lines end in %4)")
                        .arg(shown)
                        .arg(lines.size())
                        .arg(plan.stream.size())
                        .arg(plan.lineEnding == "\r\n" ? QStringLiteral("CR LF") : QStringLiteral("LF"));
    if (!plan.stream.empty() && plan.stream[0] == '%') title += QStringLiteral("; the first '%' goes as CR");
    PreviewTitle->setText(title);
}

void RestartDialog::accept() {
    Replan();
    if (result_.plan.error == nccmd::RestartError::kEmptyPreamble) {
        const QString question = QString::fromStdString(result_.plan.message) +
                                 QStringLiteral(".\nSend the program from line %1 without a preamble?")
                                     .arg(result_.plan.line);
        if (!AppDialogs().Ask(this, QStringLiteral("Restart without a preamble"), question)) return;
        result_.request.emptyPreambleConfirmed = true;
        result_.plan = nccmd::PlanRestart(input_.program, result_.request);
    }
    // A refused plan, or none, keeps the dialog open with its reason.
    if (!planned_ || !result_.plan.Ok()) return;
    result_.accepted = true;
    QDialog::accept();
}
