#pragma once
// Tells a boot loader that is attached but closed to this user (no udev rule in effect yet)
// from one that is not there at all, and what the user must do about it.

#include <QString>
#include <QtGlobal>

// The device node (/dev/hidrawN) of the first attached HID device with these ids that this
// user may not open for reading and writing; empty when every such node is open to the user
// or none is attached.
QString InaccessibleHidNode(quint16 AVid, quint16 APid);

// The lines for the window: the node is closed to the user, the udev rule that opens it, the
// command that installs it, and that the analyzer must then be plugged in again.
QString MissingUdevRuleText(const QString& ANode);
