#include "app/app_settings.h"

#include <QSettings>

#include "link/udp_link.h"

std::unique_ptr<QSettings> OpenAppSettings(const QString &file) {
    if (file.isEmpty())
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("dncpanel"),
                                           QStringLiteral("dncpanel"));
    return std::make_unique<QSettings>(file, QSettings::IniFormat);
}

int StoredNetWait(const QSettings &settings) {
    bool ok = false;
    const int ms = settings.value(settings_keys::kNetWait).toInt(&ok);
    return ok && ms >= kMinNetWaitMs && ms <= kMaxNetWaitMs ? ms : dnclink::kUdpReceiveTimeoutMs;
}
