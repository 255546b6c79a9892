#include "app/serial_ports.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <cerrno>
#include <cstring>

#include "platform/serial_port.h"

QStringList ExtraSerialDevices() {
    QStringList devices;
    QSet<QString> covered;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        devices.append(link.absoluteFilePath());
        covered.insert(link.canonicalFilePath());
    }
    const QDir dev(QStringLiteral("/dev"));
    const QStringList patterns{QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")};
    for (const QFileInfo &node : dev.entryInfoList(patterns, QDir::System, QDir::Name)) {
        if (!covered.contains(node.canonicalFilePath())) devices.append(node.absoluteFilePath());
    }
    return devices;
}

QString SerialOpenFailureReason(const QString &device, const QString &systemText, int error) {
    QString reason = systemText.isEmpty() ? QString::fromLocal8Bit(std::strerror(error)) : systemText;
    QString text = QStringLiteral("%1: %2").arg(device, reason);
    const std::string owner = error == EACCES || error == EPERM
                                  ? platform::SerialPortOwnerGroup(device.toLocal8Bit().constData())
                                  : std::string();
    if (!owner.empty()) {
        const QString group = QString::fromLocal8Bit(owner.c_str());
        text += QStringLiteral("\nAdd your user to the group '%1' that owns the device (sudo usermod -aG %1 $USER), "
                               "then log in again.")
                    .arg(group);
    }
    return text;
}
