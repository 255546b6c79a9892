#include "app/Unit2.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>


TForm2::TForm2(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("File Save AS...."));
    resize(304, 188);

    Label2 = new QLabel(QStringLiteral("NC File Save Path:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMinimumWidth(238);
    Label2->setBuddy(Edit1);
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    SpeedButton1->setToolTip(QStringLiteral("Save the text to a local file"));
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    // Enter presses the button that has the focus: right after the dialog
    // opens that is Cancel.
    BitBtn1->setAutoDefault(true);
    BitBtn2->setAutoDefault(true);

    auto *layout = new QGridLayout(this);
    layout->addWidget(Label2, 0, 0, 1, 2);
    layout->addWidget(Edit1, 1, 0);
    layout->addWidget(SpeedButton1, 1, 1);
    layout->setRowStretch(2, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    layout->addLayout(buttons, 3, 0, 1, 2);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm2::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm2::BitBtn2Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm2::SpeedButton1Click);
}

void TForm2::Propose(const QString &path, bool offerLocalSave) {
    Edit1->setText(path);
    SpeedButton1->setVisible(offerLocalSave);
}

QString TForm2::ChosenPath() const { return Edit1->text(); }

void TForm2::BitBtn1Click() { done(kResultOk); }

void TForm2::BitBtn2Click() { done(kResultCancel); }

void TForm2::reject() { done(kResultCancel); }

void TForm2::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    BitBtn2->setFocus();
}

void TForm2::SpeedButton1Click() {
    emit localSaveRequested(this);
    done(kResultLocalSave);
}
