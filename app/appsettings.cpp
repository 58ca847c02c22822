// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "appsettings.h"
QString AutoStart::entryPath() { return {}; }
QString AutoStart::command(const QString&) { return {}; }
bool AutoStart::install(const QString&) { return false; }
bool AutoStart::remove() { return false; }
