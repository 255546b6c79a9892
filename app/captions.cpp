#include "app/captions.h"

#include <QPushButton>
#include <QLabel>

#include "app/Unit1.h"

void ApplyCaptions(TForm1 &form) {
    form.Label2->setText(QStringLiteral("NCDeviceID:"));
    form.Label3->setText(QStringLiteral("COM:"));
    form.Label4->setText(QStringLiteral("BaudRate:"));
    form.BitBtn10->setText(QStringLiteral("Save As NC File..."));
    form.BitBtn7->setText(QStringLiteral("ReadNCDeviceDir"));
    form.BitBtn8->setText(QStringLiteral("ReturnNCUpDir"));
    form.BitBtn4->setText(QStringLiteral("SendFileToNC"));
    form.Label5->setText(QStringLiteral("DeviceID"));
    form.Label6->setText(QStringLiteral("To"));
    form.BitBtn2->setText(QStringLiteral("SearchDeviceID"));
}
