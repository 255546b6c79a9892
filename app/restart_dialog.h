// "Restart DNC from...": the operator picks where a program goes on (a
// line, the Nth tool change, an N-word block, or where the last run
// stopped), reads and edits the preamble that puts back the modal state of
// the skipped lines, and sees the first lines of the stream. The dialog
// plans without a controller and hands back the plan it showed; the window
// sends exactly that plan's stream.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "nccmd/restart_stream.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

struct RestartDialogInput {
    QString path;
    std::string program;  // the file's bytes; a text program
    // Where the last run of this very file stopped: the offset of the first
    // byte the controller did not take.
    std::optional<size_t> stoppedAt;
};

struct RestartChoice {
    nccmd::RestartRequest request;
    nccmd::RestartPlan plan;
    // The dialog was accepted with this plan to send.
    bool accepted = false;
};

class RestartDialog final : public QDialog {
    Q_OBJECT
public:
    explicit RestartDialog(RestartDialogInput input, QWidget *parent = nullptr);

    // What was accepted; a refused plan before that.
    const RestartChoice &Result() const { return result_; }

    // Index order of From.
    static constexpr int kFromLine = 0, kFromToolChange = 1, kFromBlock = 2;

    QComboBox *From;
    QLineEdit *Number;
    QListWidget *ToolChanges;
    QLabel *StopOffer;              // shown after a stopped run of this file
    QPushButton *StoppedLine;       // restart where the run stopped
    QPushButton *StoppedToolChange; // restart at the tool change before that
    QPlainTextEdit *Preamble;
    QPushButton *ComputedPreamble;  // puts the computed preamble back
    QPlainTextEdit *Warnings;       // lines the scan did not understand, and notes
    QLabel *PreviewTitle;
    QPlainTextEdit *Preview;
    QLabel *Message;                // why nothing can be sent as it stands
    QPushButton *StartButton;

    // Shows a restart point as if the operator had chosen it.
    void ChoosePoint(int from, long long number);

    void accept() override;

private:
    // The restart point changed: a new computed preamble, then Replan.
    void PointChanged();
    // Plans with the preamble as it stands in the box; fills the warnings,
    // preview and message.
    void Replan();
    // The request the controls describe; false with the message set when
    // they describe none.
    bool Request(nccmd::RestartRequest *request, QString *problem) const;
    void ShowPlan(const nccmd::RestartPlan &plan);

    RestartDialogInput input_;
    RestartChoice result_;
    bool settingPoint_ = false;
    bool planned_ = false;  // result_ holds a plan of what the controls say
};
