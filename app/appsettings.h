// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the program keeps its options and window state, and its start-at-log-on entry.
namespace AppSettings {
inline const QString Organization = QStringLiteral("Orrimbel Studio");
inline const QString Application = QStringLiteral("Vantrel Monitor");
} // namespace AppSettings

// The XDG autostart entry that starts the program when the user logs on.
namespace AutoStart {
// ~/.config/autostart/vantrel-monitor.desktop (honours XDG_CONFIG_HOME).
QString entryPath();
// The Exec= command: the executable path in double quotes.
QString command(const QString& executablePath);
// Writes the entry; false when it could not be written.
bool install(const QString& executablePath);
// Removes the entry if it is there; touches nothing else.
bool remove();
} // namespace AutoStart
