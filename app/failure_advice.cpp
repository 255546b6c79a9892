#include "app/failure_advice.h"

namespace {

QString Device(const LinkContext &link) {
    return QStringLiteral("device %1 %2 %3").arg(link.deviceId).arg(link.network ? "at" : "on", link.where);
}

}  // namespace

QString FailureAdvice(uint8_t code, const LinkContext &link) {
    const QString device = Device(link);
    if (code == 0xFF) {
        const QString what =
            QStringLiteral("no answer from %1 within %2 tries of %3 ms").arg(device).arg(link.tries).arg(link.waitMs);
        if (link.network) return what + QStringLiteral(" — check the address and cable, or raise Net wait");
        return what + QStringLiteral(" — check the cable and the port, and that the controller is set to this baud "
                                     "rate and to device ID %1")
                          .arg(link.deviceId);
    }
    if (code == 0xA1)
        return QStringLiteral("an answer came from another device ID than %1 (%2) — check the device ID set on the "
                              "controller")
            .arg(link.deviceId)
            .arg(link.where);
    if (code == 0xA9)
        return QStringLiteral("%1 answered with an unexpected function code — another kind of device may be "
                              "answering there")
            .arg(device);
    if (code >= 0xA0 && code <= 0xA8) {
        const QString what = QStringLiteral("the answer from %1 was damaged or cut short").arg(device);
        if (link.network) return what + QStringLiteral(" — check that no other program answers at that address");
        return what + QStringLiteral(" — check the cable, its shielding and that both ends use the same baud rate");
    }
    switch (code) {
    case 0x01:
        return QStringLiteral("%1 does not know this request — its firmware may not offer this command").arg(device);
    case 0x02:
        return QStringLiteral("%1 refused the device ID — check the device ID set on the controller").arg(device);
    case 0x03:
        return QStringLiteral("%1 refused the request's content — check the path: names of at most 8 characters and "
                              "a 3-character extension, in a folder that exists")
            .arg(device);
    case 0x04:
        return QStringLiteral("%1 could not do it on its storage — the folder may not be empty, the name may exist "
                              "already, or the storage is full or write-protected")
            .arg(device);
    case 0x05:
    case 0x06:
        return QStringLiteral("%1 is busy — wait until it is idle and try again").arg(device);
    case 0x08:
        return QStringLiteral("the data from %1 did not add up to the size announced for it — try again; if it "
                              "repeats, check the line")
            .arg(device);
    case 0xE2:
        return QStringLiteral("%1 has no file or folder of that name — read the folder again (F5)").arg(device);
    case 0xFC:
    case 0xFD:
    case 0xFE:
        return QStringLiteral("%1 ended or refused the DNC run — check the controller's DNC mode and its alarms")
            .arg(device);
    default:
        return QStringLiteral("%1 answered with exception code 0x%2 — see the controller's manual")
            .arg(device)
            .arg(code, 2, 16, QChar('0'));
    }
}
