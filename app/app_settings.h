// What the window remembers between starts, in the platform's usual place
// for settings (QSettings, organization and application "dncpanel"). The
// link kind is not among them: it stays in IpAddr.dat.
#pragma once

#include <QString>
#include <memory>

class QSettings;

namespace settings_keys {
inline constexpr const char *kSerialDevice = "serial/device";  // CB1's text: COM3, /dev/ttyUSB0
inline constexpr const char *kBaudRate = "serial/baudRate";    // CB2's text
inline constexpr const char *kDeviceId = "device/id";          // CB3's text
inline constexpr const char *kNetWait = "network/timeoutMs";   // a network try's wait
inline constexpr const char *kLocalFolder = "local/folder";    // the last folder a local file came from
inline constexpr const char *kGeometry = "window/geometry";
inline constexpr const char *kVerify = "transfer/verify";      // read uploads back and compare (network link)
inline constexpr const char *kVerifySerial = "transfer/verifySerial";  // the same on the serial link
}  // namespace settings_keys

// The user's settings, or those of `file` (an INI file) when it is given:
// the demo and the tests keep theirs apart from the user's.
std::unique_ptr<QSettings> OpenAppSettings(const QString &file = {});

// The network wait to use: the stored one when it is a sane number of
// milliseconds, else the link's default.
int StoredNetWait(const QSettings &settings);
inline constexpr int kMinNetWaitMs = 1;
inline constexpr int kMaxNetWaitMs = 600000;
