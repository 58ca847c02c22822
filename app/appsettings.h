// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/settings.h"

#include <QString>

// The XDG autostart entry that starts the program when the user logs on.
namespace AutoStart {
// ~/.config/autostart/vantrel-monitor.desktop (honours XDG_CONFIG_HOME).
QString entryPath();
// The Exec= command: the executable path in double quotes.
QString command(const QString& executablePath);
// A string value of a desktop entry: \ doubled, newline, tab and carriage return written as \n, \t, \r,
// a leading blank as \s.
QString stringValue(const QString& text);
// Writes the entry, starting the program in workingFolder (Path=), where its task.db is; false when it
// could not be written.
bool install(const QString& executablePath, const QString& workingFolder);
// Removes the entry if it is there; touches nothing else.
bool remove();
} // namespace AutoStart
