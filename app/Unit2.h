// TForm2: the path dialog. A caller proposes a path, shows the dialog
// modally and reads back the chosen path and how the dialog ended. The save
// button asks for a local save through localSaveRequested and ends the
// dialog; the dialog itself knows nothing of the window that opened it.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    enum Result { kResultOk = 1, kResultCancel = 2, kResultLocalSave = 3 };

    explicit TForm2(QWidget *parent = nullptr);

    // The path the dialog opens with; the save button only where a local
    // save makes sense (the pane's text, not a local file).
    void Propose(const QString &path, bool offerLocalSave);
    QString ChosenPath() const;

    QLabel *Label2;
    QLineEdit *Edit1;
    QToolButton *SpeedButton1;
    QPushButton *BitBtn1;
    QPushButton *BitBtn2;

    void BitBtn1Click();
    void BitBtn2Click();
    void SpeedButton1Click();

    // Escape and the window's close box end the dialog as Cancel.
    void reject() override;

signals:
    // The save button: the receiver saves locally, with this dialog as the
    // parent of its boxes, before the dialog ends with kResultLocalSave.
    void localSaveRequested(QWidget *dialog);

protected:
    void showEvent(QShowEvent *event) override;
};
