#include "app/captions.h"

QList<Caption> EnglishCaptions() {
    return {
        {"Label2", QStringLiteral("NCDeviceID:")},
        {"Label3", QStringLiteral("COM:")},
        {"Label4", QStringLiteral("BaudRate:")},
        {"BitBtn10", QStringLiteral("Save As NC File...")},
        {"BitBtn7", QStringLiteral("ReadNCDeviceDir")},
        {"BitBtn8", QStringLiteral("ReturnNCUpDir")},
        {"BitBtn4", QStringLiteral("SendFileToNC")},
        {"Label5", QStringLiteral("DeviceID")},
        {"Label6", QStringLiteral("To")},
        {"BitBtn2", QStringLiteral("SearchDeviceID")},
    };
}
