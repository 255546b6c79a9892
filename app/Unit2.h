// TForm2: the path dialog. A caller fills the path field, shows the dialog
// modally and reads back the field and how the dialog ended.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TForm1;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    enum Result { kResultOk = 1, kResultCancel = 2, kResultLocalSave = 3 };

    explicit TForm2(TForm1 *mainForm, QWidget *parent = nullptr);

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

protected:
    void showEvent(QShowEvent *event) override;

private:
    TForm1 *mainForm_;
};
