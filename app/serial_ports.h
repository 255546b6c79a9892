// Serial devices the system has beyond the fixed "COM1".."COM11" entries,
// and why a port could not be opened, in words a user can act on.
#pragma once

#include <QString>
#include <QStringList>

// USB and other adapters, by their stable /dev/serial/by-id names where the
// system provides them, else by their /dev names; sorted.
QStringList ExtraSerialDevices();

// The tooltip of status panel 0 after a failed open: the system's reason,
// and for a permission error the group the user must be in.
QString SerialOpenFailureReason(const QString &device, const QString &systemText, int error);
